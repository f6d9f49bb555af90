#ifndef ORVO_COMPONENTS_MIME_CODEC_GMIME_SETUP_H_
#define ORVO_COMPONENTS_MIME_CODEC_GMIME_SETUP_H_

namespace mimecodec {

// Runs g_mime_init exactly once in the process, whichever thread comes first; the others wait
// until it has finished. GMime stays initialised until the process ends (the component is
// never unloaded: see CMakeLists.txt).
void EnsureGMime();

}  // namespace mimecodec

#endif  // ORVO_COMPONENTS_MIME_CODEC_GMIME_SETUP_H_
