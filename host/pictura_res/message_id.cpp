#include "pictura/message_id.h"

#include <utility>

namespace pictura {

MessageId::MessageId(std::string identifier, std::string message)
    : identifier_(std::move(identifier)), message_(std::move(message)) {}

MessageId::~MessageId() = default;

}  // namespace pictura
