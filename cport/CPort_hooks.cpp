// The overridable hooks: each calls its callback when one is bound.
#include "cport/CPort.h"

namespace cport {

void TCustomComPort::HandleAfterClose() {
  if (onAfterClose_) onAfterClose_(*this);
}
void TCustomComPort::HandleAfterOpen() {
  if (onAfterOpen_) onAfterOpen_(*this);
}
void TCustomComPort::HandleBeforeClose() {
  if (onBeforeClose_) onBeforeClose_(*this);
}
void TCustomComPort::HandleBeforeOpen() {
  if (onBeforeOpen_) onBeforeOpen_(*this);
}
void TCustomComPort::HandleRxChar(std::int32_t Count) {
  if (onRxChar_) onRxChar_(*this, Count);
}
void TCustomComPort::HandleRxBuf(const char* Buffer, std::int32_t Count) {
  if (onRxBuf_) onRxBuf_(*this, Buffer, Count);
}
void TCustomComPort::HandleTxEmpty() {
  if (onTxEmpty_) onTxEmpty_(*this);
}
void TCustomComPort::HandleBreak() {
  if (onBreak_) onBreak_(*this);
}
void TCustomComPort::HandleRing() {
  if (onRing_) onRing_(*this);
}
void TCustomComPort::HandleRxFlag() {
  if (onRxFlag_) onRxFlag_(*this);
}
void TCustomComPort::HandleCTSChange(bool OnOff) {
  if (onCTSChange_) onCTSChange_(*this, OnOff);
}
void TCustomComPort::HandleDSRChange(bool OnOff) {
  if (onDSRChange_) onDSRChange_(*this, OnOff);
}
void TCustomComPort::HandleError(TComErrors Errors) {
  if (onError_) onError_(*this, Errors);
}
void TCustomComPort::HandleRLSDChange(bool OnOff) {
  if (onRLSDChange_) onRLSDChange_(*this, OnOff);
}
void TCustomComPort::HandleRx80Full() {
  if (onRx80Full_) onRx80Full_(*this);
}

}  // namespace cport
