// The component base: published settings and the application error hook.
#include "cport/component.h"

#include <utility>

#include "platform/application.h"

namespace cport {

void TComponent::DescribePublished(std::vector<PublishedSetting>& out) const {
  out.push_back({"Name", true});
  out.push_back({"Tag", tag_ != 0});
}

std::vector<PublishedSetting> TComponent::PublishedSettings() const {
  std::vector<PublishedSetting> out;
  DescribePublished(out);
  return out;
}

std::vector<std::string> TComponent::PublishedPropertyNames() const {
  std::vector<std::string> names;
  for (const PublishedSetting& setting : PublishedSettings()) {
    std::string property = setting.Name.substr(0, setting.Name.find('.'));
    if (names.empty() || names.back() != property) names.push_back(std::move(property));
  }
  return names;
}

std::vector<std::string> TComponent::StreamedSettingNames() const {
  std::vector<std::string> names;
  for (const PublishedSetting& setting : PublishedSettings()) {
    if (setting.Streamed) names.push_back(setting.Name);
  }
  return names;
}

void HandleApplicationException(std::exception_ptr error) {
  platform::App().HandleException(error);
}

}  // namespace cport
