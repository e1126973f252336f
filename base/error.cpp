#include <morvik/error.h>

namespace morvik {

const char* ErrorText(ErrorNumber number) noexcept {
    switch (number) {
        case ErrorNumber::InvalidArgument:     return "Invalid procedure call or argument";
        case ErrorNumber::Overflow:            return "Overflow";
        case ErrorNumber::SubscriptOutOfRange: return "Subscript out of range";
    }
    return "";
}

}  // namespace morvik
