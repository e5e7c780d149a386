// Failure injection for file operations.
#include "backends/sim/faulty_file_system.h"

namespace tolvane::sim {

namespace {
class FaultyAppendFile final : public AppendFile {
 public:
  FaultyAppendFile(std::unique_ptr<AppendFile> inner, FaultyFileSystem& owner)
      : inner_(std::move(inner)), owner_(owner) {}
  bool append(std::string_view bytes) override {
    if (owner_.failAppends) {
      ++owner_.refusals;
      return false;
    }
    return inner_->append(bytes);
  }
  std::optional<std::uint64_t> endOffset() override { return inner_->endOffset(); }

 private:
  std::unique_ptr<AppendFile> inner_;
  FaultyFileSystem& owner_;
};
}  // namespace

bool FaultyFileSystem::createDirectories(const std::string& path) {
  if (failCreates) {
    ++refusals;
    return false;
  }
  return inner_.createDirectories(path);
}

bool FaultyFileSystem::writeFileSynced(const std::string& path, std::string_view bytes) {
  if (failWrites) {
    ++refusals;
    return false;
  }
  return inner_.writeFileSynced(path, bytes);
}

std::optional<std::string> FaultyFileSystem::writeNewTemporaryFile(const std::string& besidePath,
                                                                   std::string_view bytes) {
  if (failWrites) {
    ++refusals;
    return std::nullopt;
  }
  return inner_.writeNewTemporaryFile(besidePath, bytes);
}

std::unique_ptr<AppendFile> FaultyFileSystem::openForAppend(const std::string& path) {
  if (failCreates) {
    ++refusals;
    return nullptr;
  }
  auto file = inner_.openForAppend(path);
  if (!file) return nullptr;
  return std::make_unique<FaultyAppendFile>(std::move(file), *this);
}

bool FaultyFileSystem::rename(const std::string& from, const std::string& to) {
  if (failRenames) {
    ++refusals;
    return false;
  }
  return inner_.rename(from, to);
}

}  // namespace tolvane::sim
