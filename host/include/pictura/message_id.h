#pragma once

#include <string>

#include "hv/visibility.h"

namespace pictura {

// Names one host error: a stable identifier ("component:area:name") and the
// text shown to the user. Errors are raised by handing one to hvErrMsgId.
class HV_API MessageId {
  public:
    MessageId(std::string identifier, std::string message);
    MessageId(const MessageId&) = default;
    MessageId& operator=(const MessageId&) = default;
    virtual ~MessageId();

    const std::string& identifier() const { return identifier_; }
    const std::string& message() const { return message_; }

  private:
    std::string identifier_;
    std::string message_;
};

}  // namespace pictura
