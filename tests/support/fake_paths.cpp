#include "support/fake_paths.h"

namespace olva_test {

FakePaths::FakePaths()
    : previous_(platform::paths()),
      application_directory_(previous_.applicationDirectory()),
      executable_name_(previous_.executableName()),
      proc_root_(previous_.procRoot()),
      sys_root_(previous_.sysRoot()),
      login_name_(previous_.loginName()),
      home_directory_(previous_.homeDirectory())
{
    platform::setPaths(this);
}

FakePaths::~FakePaths()
{
    platform::setPaths(&previous_);
}

std::string FakePaths::GuardedText::get() const
{
    std::lock_guard lock(mutex_);
    return value_;
}

void FakePaths::GuardedText::set(std::string value)
{
    std::lock_guard lock(mutex_);
    value_ = std::move(value);
}

std::string FakePaths::applicationDirectory() const { return application_directory_.get(); }
std::string FakePaths::executableName() const { return executable_name_.get(); }
std::string FakePaths::procRoot() const { return proc_root_.get(); }
std::string FakePaths::sysRoot() const { return sys_root_.get(); }
std::string FakePaths::loginName() const { return login_name_.get(); }
std::string FakePaths::homeDirectory() const { return home_directory_.get(); }

void FakePaths::setApplicationDirectory(std::string value)
{
    application_directory_.set(std::move(value));
}
void FakePaths::setExecutableName(std::string value) { executable_name_.set(std::move(value)); }
void FakePaths::setProcRoot(std::string value) { proc_root_.set(std::move(value)); }
void FakePaths::setSysRoot(std::string value) { sys_root_.set(std::move(value)); }
void FakePaths::setLoginName(std::string value) { login_name_.set(std::move(value)); }
void FakePaths::setHomeDirectory(std::string value) { home_directory_.set(std::move(value)); }

}  // namespace olva_test
