// Ending the transfers in flight, as closing the port needs it.
#include "cport/CPort.h"

namespace cport {

// Every read and write in flight ends at once (its waiter sees the abort);
// the driver's queues keep their bytes.
void TCustomComPort::AbortAllTransfers() {
  const device::DWORD error =
      handle_ ? handle_->PurgeComm(device::PURGE_TXABORT | device::PURGE_RXABORT)
              : device::DeviceError(device::ERROR_INVALID_HANDLE);
  if (error != device::ERROR_SUCCESS) ReportComError(ecPurgeFailed, error);
}

}  // namespace cport
