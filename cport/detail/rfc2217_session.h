// The server side of one telnet connection that speaks the COM-PORT-OPTION
// (RFC 2217): what an access server says to a client that drives a serial
// port over the network. Pure protocol, no I/O: bytes from the client go in,
// and what they mean comes out through a Rfc2217Host.
//
// Negotiation: the session offers and asks for BINARY, SUPPRESS-GO-AHEAD and
// COM-PORT-OPTION in both directions (Start), agrees to those when the client
// asks, and refuses every other option (WONT to a DO, DONT to a WILL), never
// answering a request that changes nothing, so two sides cannot loop. While
// the client does not send binary, a CR NUL from it is a CR.
//
// Sub-negotiations: settings (SET-BAUDRATE, -DATASIZE, -PARITY, -STOPSIZE and
// the flow-control, break, DTR and RTS values of SET-CONTROL) are taken and
// answered with the server's code (client code + 100) and the value now in
// force, a zero value is a query, and a value outside the protocol is
// answered with the current one (so the client sees the refusal). The masks
// of SET-LINESTATE-MASK and SET-MODEMSTATE-MASK select which changes are
// notified; PURGE-DATA and FLOWCONTROL-SUSPEND/RESUME are handed to the host.
//
// Malformed input never throws and never grows memory: a sub-negotiation
// longer than kMaxSubnegotiation is dropped whole, one cut by another telnet
// command is dropped and the command is served, and an unknown command is
// ignored. 0xFF in data is doubled both ways (Escape for the way out).
//
// Not thread-safe: one thread owns a session.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace cport::detail {

namespace telnet {
inline constexpr std::uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251,
                              kSb = 250, kSe = 240;
inline constexpr std::uint8_t kBinary = 0, kEcho = 1, kSuppressGoAhead = 3, kComPortOption = 44;
}  // namespace telnet

// COM-PORT-OPTION command codes (client to server; the server answers +100).
namespace comport {
inline constexpr std::uint8_t kSignature = 0, kSetBaudRate = 1, kSetDataSize = 2, kSetParity = 3,
                              kSetStopSize = 4, kSetControl = 5, kNotifyLineState = 6,
                              kNotifyModemState = 7, kFlowControlSuspend = 8,
                              kFlowControlResume = 9, kSetLineStateMask = 10,
                              kSetModemStateMask = 11, kPurgeData = 12;
inline constexpr std::uint8_t kServerOffset = 100;
// SET-PARITY values.
inline constexpr std::uint8_t kParityNone = 1, kParityOdd = 2, kParityEven = 3, kParityMark = 4,
                              kParitySpace = 5;
// SET-STOPSIZE values.
inline constexpr std::uint8_t kStopOne = 1, kStopTwo = 2, kStopOneAndHalf = 3;
// SET-CONTROL outbound flow-control values.
inline constexpr std::uint8_t kFlowNone = 1, kFlowXonXoff = 2, kFlowHardware = 3;
// NOTIFY-MODEMSTATE bits.
inline constexpr std::uint8_t kModemCd = 0x80, kModemRi = 0x40, kModemDsr = 0x20, kModemCts = 0x10,
                              kModemDeltaCd = 0x08, kModemRiTrailingEdge = 0x04,
                              kModemDeltaDsr = 0x02, kModemDeltaCts = 0x01;
// PURGE-DATA values: what the server received from the serial line and has
// not sent yet, what it received from the client and has not sent to the
// line yet, or both.
inline constexpr std::uint8_t kPurgeReceive = 1, kPurgeTransmit = 2, kPurgeBoth = 3;
}  // namespace comport

// The serial settings a client asked for, in the protocol's values.
struct ComPortSettings {
  std::uint32_t baudRate = 9600;
  std::uint8_t dataSize = 8;
  std::uint8_t parity = comport::kParityNone;
  std::uint8_t stopSize = comport::kStopOne;
  std::uint8_t flowControl = comport::kFlowNone;

  friend bool operator==(const ComPortSettings&, const ComPortSettings&) = default;
};

// "115200 baud, 8 data bits, no parity, 1 stop bit, no flow control".
std::string DescribeSettings(const ComPortSettings& settings);

// What a session asks of the line it runs on. Called from Start, Decode and
// the notify functions, in the order the client's bytes asked for.
class Rfc2217Host {
 public:
  // Data bytes for the device.
  virtual void OnData(std::span<const std::uint8_t> bytes) = 0;
  // Telnet bytes for the client (answers and notifications), whole commands.
  virtual void OnSend(std::span<const std::uint8_t> bytes) = 0;
  // The requested settings changed; at most once per Decode, after it.
  virtual void OnSettingsRequested(const ComPortSettings& /*settings*/) {}
  // The client's DTR or RTS changed (both off when a session starts).
  virtual void OnClientSignals(bool /*dtr*/, bool /*rts*/) {}
  // The client turned break on.
  virtual void OnBreak() {}
  // PURGE-DATA with one of comport::kPurge*.
  virtual void OnPurge(std::uint8_t /*what*/) {}
  // FLOWCONTROL-SUSPEND (true) and -RESUME (false): stop or go on sending
  // data to the client.
  virtual void OnFlowSuspended(bool /*suspended*/) {}

 protected:
  ~Rfc2217Host() = default;
};

class Rfc2217Session {
 public:
  // Longest sub-negotiation kept; a longer one is dropped.
  static constexpr std::size_t kMaxSubnegotiation = 64;

  // `settings`: what the line runs with before the client asks for anything.
  explicit Rfc2217Session(const ComPortSettings& settings = {});

  // The server's opening negotiation.
  void Start(Rfc2217Host& host);
  void Decode(std::span<const std::uint8_t> input, Rfc2217Host& host);

  // The device's modem levels as the client sees them (comport::kModem* of
  // CD, RI, DSR, CTS). Notifies the client when a change falls under its mask.
  void SetModemState(std::uint8_t levels, Rfc2217Host& host);
  // The line state (NOTIFY-LINESTATE bits); notified under the line-state mask.
  void SetLineState(std::uint8_t state, Rfc2217Host& host);

  // Appends `data` to `out` with every 0xFF doubled.
  static void Escape(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out);

  const ComPortSettings& Settings() const { return settings_; }
  bool ClientDtr() const { return dtr_; }
  bool ClientRts() const { return rts_; }
  // The client has agreed to the COM-PORT-OPTION.
  bool ComPortActive() const { return him_[kComPortIndex] == Option::kYes; }

 private:
  enum class State { kData, kIac, kOption, kSub, kSubIac, kCr };
  enum class Option : std::uint8_t { kNo, kWantYes, kYes };
  static constexpr std::size_t kBinaryIndex = 0, kSgaIndex = 1, kComPortIndex = 2;

  void Command(std::uint8_t command, Rfc2217Host& host);
  void Negotiate(std::uint8_t verb, std::uint8_t option, Rfc2217Host& host);
  void SendOption(std::uint8_t verb, std::uint8_t option, Rfc2217Host& host);
  void SubByte(std::uint8_t byte);
  void EndSubnegotiation(Rfc2217Host& host);
  void ComPortCommand(std::uint8_t command, std::span<const std::uint8_t> value, Rfc2217Host& host);
  void SetControl(std::uint8_t value, Rfc2217Host& host);
  void Answer(std::uint8_t command, std::span<const std::uint8_t> value, Rfc2217Host& host);
  void AnswerByte(std::uint8_t command, std::uint8_t value, Rfc2217Host& host);
  void NotifyModemState(std::uint8_t deltas, Rfc2217Host& host);
  bool ClientSendsBinary() const { return him_[kBinaryIndex] == Option::kYes; }

  State state_ = State::kData;
  std::uint8_t verb_ = 0;  // the DO/DONT/WILL/WONT whose option comes next
  std::array<std::uint8_t, kMaxSubnegotiation> sub_{};
  std::size_t subLength_ = 0;
  bool subOverflow_ = false;

  std::array<Option, 3> us_{};   // what we do (WILL)
  std::array<Option, 3> him_{};  // what the client does (DO)

  ComPortSettings settings_;
  bool settingsChanged_ = false;
  std::uint8_t inboundFlow_ = 14;  // SET-CONTROL 14: no inbound flow control
  bool dtr_ = false;
  bool rts_ = false;
  bool break_ = false;
  std::uint8_t lineMask_ = 0;
  std::uint8_t modemMask_ = 255;
  std::uint8_t lineState_ = 0;
  std::uint8_t modemLevels_ = 0;
};

}  // namespace cport::detail
