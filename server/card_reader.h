#pragma once
#include <string>

namespace zivra::server {

// What the card commands need from card access: one read of the card number, as the reply text
// (sixteen hexadecimal digits or an "Err:" text).
class CardReader {
 public:
  virtual ~CardReader() = default;
  virtual std::string ReadCardNumber() = 0;
};

}  // namespace zivra::server
