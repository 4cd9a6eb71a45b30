#include "osc/OSCTransportErrors.h"

namespace zelto {

const char* OSCClientError::what() const noexcept {
    switch (case_) {
        case Case::invalidPort:
            return "invalidPort";
    }
    return "OSCClientError";
}

const char* OSCServerError::what() const noexcept {
    switch (case_) {
        case Case::serverStopped:
            return "serverStopped";
        case Case::invalidPort:
            return "invalidPort";
        case Case::serverAlreadyStarted:
            return "serverAlreadyStarted";
        case Case::startTimeout:
            return "startTimeout";
        case Case::connectionTimeout:
            return "connectionTimeout";
    }
    return "OSCServerError";
}

OSCConnectionError OSCConnectionError::couldNotParseOSC(std::optional<std::vector<std::uint8_t>> data,
                                                        std::exception_ptr error) {
    OSCConnectionError e(Case::couldNotParseOSC);
    e.data_ = std::move(data);
    e.error_ = error;
    return e;
}

OSCConnectionError OSCConnectionError::failedReceivingData(std::exception_ptr error) {
    OSCConnectionError e(Case::failedReceivingData);
    e.error_ = error;
    return e;
}

const char* OSCConnectionError::what() const noexcept {
    switch (case_) {
        case Case::couldNotParseOSC:
            return "couldNotParseOSC";
        case Case::failedReceivingData:
            return "failedReceivingData";
        case Case::readTimeout:
            return "readTimeout";
        case Case::connectionCanceled:
            return "connectionCanceled";
    }
    return "OSCConnectionError";
}

}  // namespace zelto
