#pragma once

#include "../../FileManager.h"

namespace platform {

class LinuxFileManager final : public FileManager {
  public:
    bool fileExistsAtPath(const std::string& path) const override;
    bool directoryExistsAtPath(const std::string& path) const override;
    Status createDirectory(const std::string& path, bool withIntermediates) override;
    Status removeItem(const std::string& path) override;
    Status copyItem(const std::string& source, const std::string& destination) override;
    ReplaceResult replaceItem(const std::string& source, const std::string& destination) override;
    std::vector<std::string> removeLeftoversOfEndedProcesses(const std::string& folder) override;
    Status moveItem(const std::string& source, const std::string& destination) override;
    std::optional<std::uint64_t> fileSize(const std::string& path) const override;
    Status truncateFile(const std::string& path) override;
    std::optional<unsigned> permissionsOfItem(const std::string& path) const override;
    Status setPermissions(const std::string& path, unsigned permissions) override;
    Result<std::string> contentsAtPath(const std::string& path) const override;
    Status writeContents(const std::string& path, const std::string& bytes) override;
    Status writeContentsAtomically(const std::string& path, const std::string& bytes,
                                   bool durable) override;
};

}  // namespace platform
