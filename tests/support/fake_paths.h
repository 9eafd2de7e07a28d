// Paths that a test sets, installed for the lifetime of the object. They
// start as the paths in use when it was made.
#pragma once

#include <mutex>
#include <utility>
#include <string>

#include "base/platform/paths.h"

namespace olva_test {

class FakePaths final : public platform::Paths {
public:
    FakePaths();
    ~FakePaths() override;
    FakePaths(const FakePaths&) = delete;
    FakePaths& operator=(const FakePaths&) = delete;

    std::string applicationDirectory() const override;
    std::string executableName() const override;
    std::string procRoot() const override;
    std::string sysRoot() const override;
    std::string loginName() const override;
    std::string homeDirectory() const override;

    void setApplicationDirectory(std::string value);
    void setExecutableName(std::string value);
    void setProcRoot(std::string value);
    void setSysRoot(std::string value);
    void setLoginName(std::string value);
    void setHomeDirectory(std::string value);

private:
    // A text that one thread sets while others read it.
    class GuardedText {
    public:
        explicit GuardedText(std::string value) : value_(std::move(value)) {}
        std::string get() const;
        void set(std::string value);

    private:
        mutable std::mutex mutex_;
        std::string value_;  // guarded by mutex_
    };

    const platform::Paths& previous_;
    GuardedText application_directory_;
    GuardedText executable_name_;
    GuardedText proc_root_;
    GuardedText sys_root_;
    GuardedText login_name_;
    GuardedText home_directory_;
};

}  // namespace olva_test
