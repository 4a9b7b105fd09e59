#pragma once
#include <memory>

#include "server/card_reader.h"

namespace zivra::server {

// The card access the server uses for its card commands.
std::unique_ptr<CardReader> MakeCardReader();

}  // namespace zivra::server
