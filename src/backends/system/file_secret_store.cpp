// Reading and atomically rewriting the secrets file, refusing any file others could have read
// or placed.
#include "backends/system/file_secret_store.h"

#include <nlohmann/json.hpp>

#include <utility>

#include "backends/system/secret_values.h"

namespace tolvane::system {

namespace {

using Json = nlohmann::json;

std::string octal(std::uint32_t permissions) {
  std::string digits;
  for (int shift = 9; shift >= 0; shift -= 3)
    digits += static_cast<char>('0' + ((permissions >> shift) & 7));
  return digits;
}

// Why the folder holding the file cannot keep it private: someone else could swap the file
// between our check and our read, or plant one for us to trust. A folder others can read
// is fine: the file's own mode keeps its content.
std::optional<std::string> folderProblem(const FileSystem& files, const std::string& folder,
                                         std::uint32_t uid) {
  const auto resolved = finalLinkTarget(files, folder);
  if (!resolved) return "folder is a loop of links";
  const auto facts = files.linkFacts(*resolved);
  if (!facts) return std::nullopt;  // created 0700 on the first save
  if (facts->kind != LinkFacts::Kind::directory) return "folder is not a folder";
  if (facts->owner != uid) return "folder belongs to uid " + std::to_string(facts->owner);
  if ((facts->permissions & 022) != 0) {
    return "folder writable by others mode=" + octal(facts->permissions);
  }
  return std::nullopt;
}

std::optional<std::string> fileProblem(const LinkFacts& facts, std::uint32_t uid) {
  if (facts.kind != LinkFacts::Kind::regular) return "not a regular file";
  if (facts.owner != uid) return "file belongs to uid " + std::to_string(facts.owner);
  if ((facts.permissions & 077) != 0) {
    return "file open to others mode=" + octal(facts.permissions);
  }
  return std::nullopt;
}

}  // namespace

FileSecretStore::FileSecretStore(FileSystem& files, std::string path, std::uint32_t uid,
                                 Diagnostic diagnostic)
    : files_(files), path_(std::move(path)), uid_(uid), diagnostic_(std::move(diagnostic)) {
  load();
}

std::optional<std::string> FileSecretStore::refusal() const {
  if (auto problem = folderProblem(files_, parentFolder(path_), uid_)) return problem;
  const auto facts = files_.linkFacts(path_);
  if (!facts) return std::nullopt;
  return fileProblem(*facts, uid_);
}

void FileSecretStore::load() {
  if (const auto problem = refusal()) {
    persists_ = false;
    diagnose("secrets file refused reason=" + *problem + " path=" + path_ +
             " left in place, secrets stay in memory");
    return;
  }
  const auto read = files_.readRegularFile(path_, kMaxSecretFileBytes);
  if (read.content) {
    adopt(*read.content);
    return;
  }
  switch (read.failure) {
    case ReadFailure::missing:
      return;
    case ReadFailure::tooLarge:
      setAside("larger than " + std::to_string(kMaxSecretFileBytes) + " bytes");
      return;
    case ReadFailure::notRegularFile:
    case ReadFailure::unreadable:
      // What the file holds may be fine; replacing it would lose the user's sign-in.
      persists_ = false;
      diagnose("secrets file unreadable path=" + path_ + " left in place, secrets stay in memory");
      return;
  }
}

void FileSecretStore::adopt(const std::string& text) {
  const Json root = Json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!root.is_object()) {
    setAside("not a JSON object");
    return;
  }
  int dropped = 0;
  for (const auto& [account, value] : root.items()) {
    if (!value.is_string() || accountProblem(account) ||
        valueProblem(value.get_ref<const std::string&>())) {
      ++dropped;
      continue;
    }
    secrets_.emplace(account, value.get<std::string>());
  }
  if (dropped > 0) {
    diagnose("secrets file members dropped count=" + std::to_string(dropped) + " path=" + path_);
  }
}

void FileSecretStore::setAside(const std::string& reason) {
  // A single slot: an older corrupt copy is only evidence of an older accident.
  const std::string target = path_ + ".corrupt";
  if (files_.rename(path_, target)) {
    diagnose("secrets file corrupt reason=" + reason + " movedTo=" + target);
    return;
  }
  persists_ = false;
  diagnose("secrets file corrupt reason=" + reason + " path=" + path_ +
           " move failed, left in place, secrets stay in memory");
}

std::optional<std::string> FileSecretStore::get(const std::string& account) {
  std::lock_guard guard(lock_);
  const auto it = secrets_.find(account);
  if (it == secrets_.end()) return std::nullopt;
  return it->second;
}

void FileSecretStore::set(const std::string& account, const std::string& value) {
  if (const auto problem = entryProblem(account, value)) {
    diagnose("secret refused account=" + printableAccount(account) + " reason=" + *problem);
    return;
  }
  std::optional<std::string> failure;
  {
    std::lock_guard guard(lock_);
    secrets_.insert_or_assign(account, value);
    failure = saveLocked();
  }
  if (failure) diagnose(*failure);
}

void FileSecretStore::remove(const std::string& account) {
  std::optional<std::string> failure;
  {
    std::lock_guard guard(lock_);
    if (secrets_.erase(account) == 0) return;
    failure = saveLocked();
  }
  if (failure) diagnose(*failure);
}

bool FileSecretStore::persists() const {
  std::lock_guard guard(lock_);
  return persists_;
}

std::optional<std::string> FileSecretStore::saveLocked() {
  if (!persists_) return std::nullopt;
  // Saving under the lock keeps the file in step with memory when two threads change it.
  Json root = Json::object();
  for (const auto& [account, value] : secrets_) root[account] = value;
  const std::string text = root.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
  if (files_.createDirectories(parentFolder(path_)) && writeFileAtomically(files_, path_, text)) {
    return std::nullopt;
  }
  return "secrets save failed path=" + path_ + " secrets stay in memory until the next save";
}

void FileSecretStore::diagnose(const std::string& line) const {
  if (diagnostic_) diagnostic_(line);
}

}  // namespace tolvane::system
