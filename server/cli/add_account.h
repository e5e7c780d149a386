// The operator's command that makes an account, for a server whose sign-up is closed.
#pragma once

#include <istream>
#include <string>

#include "auth/passwords.h"

namespace tolvane::server {

class Storage;

/// Creates an account for `email` with the password on the first line of `input`, under the
/// sign-in page's rules (a valid address, a password of 8 to 1024 bytes). False, with `whyNot`
/// set, when the address or password is refused, the account exists or storage fails.
bool addAccount(Storage& storage, const std::string& email, std::istream& input,
                const PasswordCost& cost, std::string& whyNot);

}  // namespace tolvane::server
