// The component base: what a component needs from its framework.
//
// A component has an owner (non-owning link; whoever creates it keeps it), a
// name, a tag, a design-mode state and a loading state. A loader (a form
// reader or a test) brackets the reading of stored settings with
// BeginLoading/EndLoading; EndLoading ends the loading state and then runs the
// Loaded() notification once. Components describe their published settings
// with default markers, so a form writer or a test can ask which settings
// design-time streaming would write for the current values.
//
// Use from the thread that owns the component.
#pragma once

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

namespace cport {

// The framework's assignment error: a settings object was given a source it
// cannot copy from (none, or an object of another class).
class EConvertError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// One published setting; object-valued properties are listed field by field
// as "Property.Field".
struct PublishedSetting {
  std::string Name;
  bool Streamed = false;  // design-time streaming would write it with its current value
};

class TComponent {
 public:
  explicit TComponent(TComponent* owner = nullptr) : owner_(owner) {}
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;
  virtual ~TComponent() = default;

  TComponent* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  std::intptr_t Tag() const { return tag_; }
  void SetTag(std::intptr_t tag) { tag_ = tag; }

  bool Designing() const { return designing_; }
  void SetDesigning(bool designing) { designing_ = designing; }
  bool Loading() const { return loading_; }

  // Enter the loading state; settings written now are only stored.
  void BeginLoading() { loading_ = true; }
  // Leave the loading state and run the end-of-loading notification.
  void EndLoading() { Loaded(); }

  // Every published setting in publishing order, with its streaming marker.
  std::vector<PublishedSetting> PublishedSettings() const;
  // The names of the published properties in order (fields not expanded).
  std::vector<std::string> PublishedPropertyNames() const;
  // The names of the settings streaming would write, in order.
  std::vector<std::string> StreamedSettingNames() const;

 protected:
  // End-of-loading notification. Overrides call the base first; after it the
  // component is no longer loading.
  virtual void Loaded() { loading_ = false; }
  // Appends the published settings; the base publishes Name and Tag.
  virtual void DescribePublished(std::vector<PublishedSetting>& out) const;

 private:
  TComponent* owner_;
  std::string name_;
  std::intptr_t tag_ = 0;
  bool designing_ = false;
  bool loading_ = false;
};

// Hands an exception that no caller can receive (one raised while a
// component finishes loading) to the application's exception handling, which
// shows it to the user unless the application has its own handler.
void HandleApplicationException(std::exception_ptr error);

}  // namespace cport
