#pragma once

// A folder of the test's own in the system's temporary folder, removed with everything in it;
// made the same way on every platform.

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

class TempDirectory {
public:
    explicit TempDirectory(const std::string& prefix) {
        std::error_code error;
        const std::filesystem::path base = std::filesystem::temp_directory_path(error);
        if (error) return;
        std::random_device random;
        // create_directory says false for a folder that is there already: another name then.
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const std::filesystem::path candidate =
                base / (prefix + "-" + std::to_string(random()));
            if (std::filesystem::create_directory(candidate, error)) {
                path_ = candidate.string();
                // Only its user may enter, as with mkdtemp: a window manager's runtime folder
                // must be so.
                std::filesystem::permissions(candidate, std::filesystem::perms::owner_all, error);
            }
            if (error) return;
        }
    }
    ~TempDirectory() {
        std::error_code ignored;
        if (made()) std::filesystem::remove_all(path_, ignored);
    }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    bool made() const { return !path_.empty(); }
    // Empty where the folder could not be made.
    const std::string& path() const { return path_; }
    std::string path(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};
