#include "cli/add_account.h"

#include "service/form_text.h"
#include "service/service.h"
#include "storage/storage.h"

namespace tolvane::server {

bool addAccount(Storage& storage, const std::string& email, std::istream& input,
                const PasswordCost& cost, std::string& whyNot) {
  const auto address = normalisedEmail(email);
  if (!address) {
    whyNot = "not an e-mail address";
    return false;
  }
  std::string password;
  std::getline(input, password);
  if (password.size() < kMinNewPasswordBytes || password.size() > kMaxPasswordBytes ||
      !isValidUtf8(password)) {
    whyNot = "the password (one line on standard input) must have 8 to 1024 bytes";
    return false;
  }
  const auto hash = hashPassword(password, cost);
  if (!hash) {
    whyNot = "cannot hash the password";
    return false;
  }
  const auto created = storage.createAccount(*address, *hash, "free");
  if (created.status == StoreStatus::exists) whyNot = "an account for " + *address + " exists";
  if (!created.ok() && whyNot.empty()) whyNot = created.detail;
  return created.ok();
}

}  // namespace tolvane::server
