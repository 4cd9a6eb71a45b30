#include "async/Timeout.h"

namespace zelto {

const char* ThrowingContinuationError::what() const noexcept {
    switch (case_) {
        case Case::canceled:
            return "canceled";
        case Case::timeout:
            return "timeout";
    }
    return "ThrowingContinuationError";
}

}  // namespace zelto
