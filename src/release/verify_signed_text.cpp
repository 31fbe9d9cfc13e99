// Kept apart from the rest of the manifest code: this is the one piece that
// needs the linked-in site's key, so the release tool, which checks against
// keys it is given, links without any site.
#include "release/manifest.h"

namespace release {

std::optional<ByteText> verify_signed_text(ByteText body) {
    return verify_signed_text_with_key(body, RELEASE_SIGNING_KEY);
}

}  // namespace release
