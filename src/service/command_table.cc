#include "service/command_table.h"

#include <iterator>

#include "clipboard/clipboard_commands.h"
#include "math/math_object_command.h"
#include "mime/mime_decode_command.h"
#include "mime/mime_encode_command.h"
#include "protocol/command_table.h"
#include "protocol/small_commands.h"
#include "protocol/version_command.h"
#include "word/update_html_command.h"

namespace {

// One row per command number. A subsystem offers a command by naming its worker and payload
// builder here and linking its library into orvo_commands.
constexpr CommandEntry kServiceCommands[] = {
    {1, RunMimeEncodeCommand, BuildMimeEncodePdu},
    {2, RunMimeDecodeCommand, BuildMimeDecodePdu},
    {3, RunClipboardCommand, BuildClipboardPdu},
    {4, RunClipboardWithImagesCommand, BuildClipboardWithImagesPdu},
    {5, RunUpdateHtmlCommand, BuildUpdateHtmlPdu},
    {8, RunCleanupCommand, BuildCleanupPdu},
    {9, RunFilesCommand, BuildFilesPdu},
    {11, RunMathObjectCommand, BuildMathObjectPdu},
    {14, RunHtmlFileCommand, nullptr},
    {15, RunVersionCommand, BuildVersionPdu},
};

}  // namespace

void InstallServiceCommandTable() {
  InstallCommandTable(kServiceCommands, std::size(kServiceCommands));
}
