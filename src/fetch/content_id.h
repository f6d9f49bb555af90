#ifndef ORVO_FETCH_CONTENT_ID_H_
#define ORVO_FETCH_CONTENT_ID_H_

#include <string>

// The domain part of every Content-ID this service makes.
inline constexpr char kContentIdDomain[] = "orvohttps.localhost";

// A new Content-ID for a resource of a MIME archive: twelve characters of kRandomAlphabet from
// RandomChars, '@', kContentIdDomain ("7XQ03KAM1Z4B@orvohttps.localhost"). The characters come
// from the calling thread's generator, so Content-IDs made on one thread do not repeat within
// one archive; a page refers to the resource as "cid:" and this text.
std::string MakeContentId();

#endif  // ORVO_FETCH_CONTENT_ID_H_
