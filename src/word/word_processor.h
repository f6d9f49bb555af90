#ifndef ORVO_WORD_WORD_PROCESSOR_H_
#define ORVO_WORD_WORD_PROCESSOR_H_

#include <string>
#include <vector>

// The program that opens a document for the user to edit.

// The argument vector that opens document_path (left out when empty) so that the program's
// process lives until the user has closed the document:
//  - "winword" {document} "-new" when a program "winword" is on PATH;
//  - else LibreOffice Writer ("soffice --writer", or "lowriter") with a private profile in
//    profile_folder, made here for this launch, and --norestore --nologo. A shared profile
//    would hand the document to a LibreOffice already running and return at once, and the
//    user's edits would be lost;
//  - else (or when profile_folder is empty, or there is no display to show LibreOffice on)
//    "winword" as above, which then fails to start.
std::vector<std::string> WordProcessorCommand(const std::string& document_path,
                                              const std::string& profile_folder);

// Ends what is left running of the word processor started with profile_folder once its launcher
// has ended: Writer's own process may outlive the launcher (a failed start, a crash of the
// launcher) and would keep the profile and the document open.
void EndWordProcessorOf(const std::string& profile_folder);

// Deletes the private profile WordProcessorCommand made (a few hundred files) with one log line
// for the whole folder, not one per file. Nothing when there is no such folder.
void DeleteWordProcessorProfile(const std::string& profile_folder);

// A local path as a file URL ("file:///a%20b/c"): every byte but the unreserved characters and
// '/' percent-encoded.
std::string FileUrl(const std::string& path);

#endif  // ORVO_WORD_WORD_PROCESSOR_H_
