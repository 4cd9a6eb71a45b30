#include "osc/OSCErrors.h"

namespace zelto {

const char* OSCValueError::what() const noexcept {
    switch (case_) {
        case Case::sizeError:
            return "sizeError";
        case Case::encodingError:
            return "encodingError";
    }
    return "OSCValueError";
}

const char* OSCTypeTagStringError::what() const noexcept {
    switch (case_) {
        case Case::unkownTypeTag:
            return "unkownTypeTag";
        case Case::malformedData:
            return "malformedData";
        case Case::unkownBeginningCharacter:
            return "unkownBeginningCharacter";
    }
    return "OSCTypeTagStringError";
}

const char* OSCMessageError::what() const noexcept {
    switch (case_) {
        case Case::malformedMessage:
            return "malformedMessage";
        case Case::malformedAddress:
            return "malformedAddress";
        case Case::invalidSize:
            return "invalidSize";
    }
    return "OSCMessageError";
}

const char* OSCDecoderError::what() const noexcept {
    switch (case_) {
        case Case::emptyDataProvided:
            return "emptyDataProvided";
        case Case::dataIsNotOSC:
            return "dataIsNotOSC";
    }
    return "OSCDecoderError";
}

const char* OSCBundleError::what() const noexcept {
    switch (case_) {
        case Case::invalidPrefix:
            return "invalidPrefix";
        case Case::invalidSize:
            return "invalidSize";
        case Case::sizeExceedsDataProvided:
            return "sizeExceedsDataProvided";
    }
    return "OSCBundleError";
}

}  // namespace zelto
