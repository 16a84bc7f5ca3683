#include "cport/detail/rfc2217_session.h"

#include <optional>

namespace cport::detail {

using namespace telnet;

namespace {

constexpr std::uint8_t kSignatureText[] = {'Q', 'u', 'i', 'l', 'l', 'a', 'n', 'e'};
constexpr std::uint8_t kOneFf[] = {kIac};

// SET-CONTROL values.
enum : std::uint8_t {
  kQueryFlow = 0,
  kQueryBreak = 4,
  kBreakOn = 5,
  kBreakOff = 6,
  kQueryDtr = 7,
  kDtrOn = 8,
  kDtrOff = 9,
  kQueryRts = 10,
  kRtsOn = 11,
  kRtsOff = 12,
  kQueryInboundFlow = 13,
  kInboundNone = 14,
  kInboundXonXoff = 15,
  kInboundHardware = 16,
  kFlowDcd = 17,
  kInboundDtr = 18,
  kFlowDsr = 19,
};

std::optional<std::size_t> OptionIndex(std::uint8_t option) {
  switch (option) {
    case kBinary:
      return 0;
    case kSuppressGoAhead:
      return 1;
    case kComPortOption:
      return 2;
    default:
      return std::nullopt;
  }
}

std::string ParityText(std::uint8_t parity) {
  switch (parity) {
    case comport::kParityOdd:
      return "odd parity";
    case comport::kParityEven:
      return "even parity";
    case comport::kParityMark:
      return "mark parity";
    case comport::kParitySpace:
      return "space parity";
    default:
      return "no parity";
  }
}

std::string StopText(std::uint8_t stop) {
  switch (stop) {
    case comport::kStopTwo:
      return "2 stop bits";
    case comport::kStopOneAndHalf:
      return "1.5 stop bits";
    default:
      return "1 stop bit";
  }
}

std::string FlowText(std::uint8_t flow) {
  switch (flow) {
    case comport::kFlowXonXoff:
      return "XON/XOFF flow control";
    case comport::kFlowHardware:
      return "hardware flow control";
    case kFlowDcd:
      return "DCD flow control";
    case kFlowDsr:
      return "DSR flow control";
    default:
      return "no flow control";
  }
}

}  // namespace

std::string DescribeSettings(const ComPortSettings& settings) {
  return std::to_string(settings.baudRate) + " baud, " + std::to_string(settings.dataSize) +
         " data bits, " + ParityText(settings.parity) + ", " + StopText(settings.stopSize) + ", " +
         FlowText(settings.flowControl);
}

Rfc2217Session::Rfc2217Session(const ComPortSettings& settings) : settings_(settings) {}

void Rfc2217Session::Start(Rfc2217Host& host) {
  for (const std::uint8_t option : {kBinary, kSuppressGoAhead, kComPortOption}) {
    const std::size_t index = *OptionIndex(option);
    us_[index] = Option::kWantYes;
    him_[index] = Option::kWantYes;
    SendOption(kWill, option, host);
    SendOption(kDo, option, host);
  }
}

void Rfc2217Session::Escape(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out) {
  for (const std::uint8_t byte : data) {
    out.push_back(byte);
    if (byte == kIac) out.push_back(kIac);
  }
}

void Rfc2217Session::Decode(std::span<const std::uint8_t> input, Rfc2217Host& host) {
  std::size_t runStart = 0;  // data bytes not handed on yet start here
  const auto flushRun = [&](std::size_t end) {
    if (end > runStart) host.OnData(input.subspan(runStart, end - runStart));
  };
  for (std::size_t i = 0; i < input.size(); ++i) {
    const std::uint8_t byte = input[i];
    bool isData = false;  // the byte belongs to the current data run
    switch (state_) {
      case State::kCr:
        state_ = State::kData;
        if (byte == 0) break;  // CR NUL from a client that does not send binary: a CR
        [[fallthrough]];
      case State::kData:
        if (byte == kIac) {
          state_ = State::kIac;
        } else {
          isData = true;
          if (byte == '\r' && !ClientSendsBinary()) state_ = State::kCr;
        }
        break;
      case State::kIac:
        Command(byte, host);
        break;
      case State::kOption:
        state_ = State::kData;
        Negotiate(verb_, byte, host);
        break;
      case State::kSub:
        if (byte == kIac) {
          state_ = State::kSubIac;
        } else {
          SubByte(byte);
        }
        break;
      case State::kSubIac:
        if (byte == kIac) {
          SubByte(kIac);
          state_ = State::kSub;
        } else if (byte == kSe) {
          state_ = State::kData;
          EndSubnegotiation(host);
        } else {
          // Another command cuts the sub-negotiation short: drop what it
          // held and serve the command.
          subLength_ = 0;
          Command(byte, host);
        }
        break;
    }
    if (!isData) {
      flushRun(i);
      runStart = i + 1;
    }
  }
  flushRun(input.size());
  if (settingsChanged_) {
    settingsChanged_ = false;
    host.OnSettingsRequested(settings_);
  }
}

void Rfc2217Session::Command(std::uint8_t command, Rfc2217Host& host) {
  state_ = State::kData;
  if (command == kIac) {
    host.OnData(kOneFf);
  } else if (command >= kWill && command <= kDont) {
    verb_ = command;
    state_ = State::kOption;
  } else if (command == kSb) {
    subLength_ = 0;
    subOverflow_ = false;
    state_ = State::kSub;
  }
  // Any other command (NOP, GA, AYT, a stray SE, ...) asks nothing of a
  // serial line and is ignored.
}

void Rfc2217Session::SendOption(std::uint8_t verb, std::uint8_t option, Rfc2217Host& host) {
  const std::uint8_t bytes[] = {kIac, verb, option};
  host.OnSend(bytes);
}

void Rfc2217Session::Negotiate(std::uint8_t verb, std::uint8_t option, Rfc2217Host& host) {
  const std::optional<std::size_t> index = OptionIndex(option);
  const bool aboutHim = verb == kWill || verb == kWont;
  const bool enable = verb == kWill || verb == kDo;
  if (!index) {
    // Refused; a refusal of something never enabled needs no answer.
    if (enable) SendOption(aboutHim ? kDont : kWont, option, host);
    return;
  }
  Option& state = aboutHim ? him_[*index] : us_[*index];
  const std::uint8_t yes = aboutHim ? kDo : kWill;
  const std::uint8_t no = aboutHim ? kDont : kWont;
  const bool wasComPort = ComPortActive();
  if (enable) {
    if (state == Option::kNo) SendOption(yes, option, host);
    state = Option::kYes;
  } else {
    if (state == Option::kYes) SendOption(no, option, host);
    state = Option::kNo;
  }
  if (!wasComPort && ComPortActive()) NotifyModemState(0, host);
}

void Rfc2217Session::SubByte(std::uint8_t byte) {
  if (subLength_ == sub_.size()) {
    subOverflow_ = true;  // longer than any we serve: dropped at its end
    return;
  }
  sub_[subLength_++] = byte;
}

void Rfc2217Session::EndSubnegotiation(Rfc2217Host& host) {
  const std::size_t length = subLength_;
  subLength_ = 0;
  if (subOverflow_ || length < 2 || sub_[0] != kComPortOption) return;
  ComPortCommand(sub_[1], std::span<const std::uint8_t>(sub_).subspan(2, length - 2), host);
}

void Rfc2217Session::ComPortCommand(std::uint8_t command, std::span<const std::uint8_t> value,
                                    Rfc2217Host& host) {
  using namespace comport;
  const bool oneByte = value.size() == 1;
  const std::uint8_t v = oneByte ? value[0] : 0;
  const auto take = [this](auto& field, auto wanted) {
    if (field == wanted) return;
    field = wanted;
    settingsChanged_ = true;
  };
  switch (command) {
    case kSignature:
      if (value.empty()) Answer(kSignature, kSignatureText, host);
      return;
    case kSetBaudRate: {
      if (value.size() != 4) return;
      const std::uint32_t rate = (std::uint32_t{value[0]} << 24) | (std::uint32_t{value[1]} << 16) |
                                 (std::uint32_t{value[2]} << 8) | value[3];
      if (rate != 0) take(settings_.baudRate, rate);
      const std::uint32_t now = settings_.baudRate;
      const std::uint8_t answer[] = {
          static_cast<std::uint8_t>(now >> 24), static_cast<std::uint8_t>(now >> 16),
          static_cast<std::uint8_t>(now >> 8), static_cast<std::uint8_t>(now)};
      Answer(kSetBaudRate, answer, host);
      return;
    }
    case kSetDataSize:
      if (!oneByte) return;
      if (v >= 5 && v <= 8) take(settings_.dataSize, v);
      AnswerByte(kSetDataSize, settings_.dataSize, host);
      return;
    case kSetParity:
      if (!oneByte) return;
      if (v >= kParityNone && v <= kParitySpace) take(settings_.parity, v);
      AnswerByte(kSetParity, settings_.parity, host);
      return;
    case kSetStopSize:
      if (!oneByte) return;
      if (v >= kStopOne && v <= kStopOneAndHalf) take(settings_.stopSize, v);
      AnswerByte(kSetStopSize, settings_.stopSize, host);
      return;
    case kSetControl:
      if (oneByte) SetControl(v, host);
      return;
    case kNotifyLineState:
      AnswerByte(kNotifyLineState, lineState_ & lineMask_, host);
      return;
    case kNotifyModemState:
      AnswerByte(kNotifyModemState, modemLevels_ & modemMask_, host);
      return;
    case kFlowControlSuspend:
    case kFlowControlResume:
      host.OnFlowSuspended(command == kFlowControlSuspend);
      return;
    case kSetLineStateMask:
    case kSetModemStateMask:
      if (!oneByte) return;
      (command == kSetLineStateMask ? lineMask_ : modemMask_) = v;
      AnswerByte(command, v, host);
      return;
    case kPurgeData:
      if (!oneByte || v < kPurgeReceive || v > kPurgeBoth) return;
      host.OnPurge(v);
      AnswerByte(kPurgeData, v, host);
      return;
    default:
      return;  // not a command we know: nothing to answer
  }
}

void Rfc2217Session::SetControl(std::uint8_t value, Rfc2217Host& host) {
  using namespace comport;
  const auto signals = [&](bool& line, bool on) {
    if (line == on) return;
    line = on;
    host.OnClientSignals(dtr_, rts_);
  };
  std::uint8_t answer = value;
  switch (value) {
    case kQueryFlow:
      answer = settings_.flowControl;
      break;
    case kFlowNone:
    case kFlowXonXoff:
    case kFlowHardware:
    case kFlowDcd:
    case kFlowDsr:
      if (settings_.flowControl != value) {
        settings_.flowControl = value;
        settingsChanged_ = true;
      }
      break;
    case kQueryBreak:
      answer = break_ ? kBreakOn : kBreakOff;
      break;
    case kBreakOn:
      if (!break_) host.OnBreak();
      break_ = true;
      break;
    case kBreakOff:
      break_ = false;
      break;
    case kQueryDtr:
      answer = dtr_ ? kDtrOn : kDtrOff;
      break;
    case kDtrOn:
    case kDtrOff:
      signals(dtr_, value == kDtrOn);
      break;
    case kQueryRts:
      answer = rts_ ? kRtsOn : kRtsOff;
      break;
    case kRtsOn:
    case kRtsOff:
      signals(rts_, value == kRtsOn);
      break;
    case kQueryInboundFlow:
      answer = inboundFlow_;
      break;
    case kInboundNone:
    case kInboundXonXoff:
    case kInboundHardware:
    case kInboundDtr:
      inboundFlow_ = value;
      break;
    default:
      return;  // not a SET-CONTROL value: nothing to answer
  }
  AnswerByte(kSetControl, answer, host);
}

void Rfc2217Session::Answer(std::uint8_t command, std::span<const std::uint8_t> value,
                            Rfc2217Host& host) {
  std::vector<std::uint8_t> bytes = {kIac, kSb, kComPortOption,
                                     static_cast<std::uint8_t>(command + comport::kServerOffset)};
  Escape(value, bytes);
  bytes.push_back(kIac);
  bytes.push_back(kSe);
  host.OnSend(bytes);
}

void Rfc2217Session::AnswerByte(std::uint8_t command, std::uint8_t value, Rfc2217Host& host) {
  const std::uint8_t bytes[] = {value};
  Answer(command, bytes, host);
}

void Rfc2217Session::SetModemState(std::uint8_t levels, Rfc2217Host& host) {
  using namespace comport;
  levels &= kModemCd | kModemRi | kModemDsr | kModemCts;
  const std::uint8_t changed = levels ^ modemLevels_;
  if (changed == 0) return;
  std::uint8_t deltas = 0;
  if ((changed & kModemCts) != 0) deltas |= kModemDeltaCts;
  if ((changed & kModemDsr) != 0) deltas |= kModemDeltaDsr;
  if ((changed & kModemCd) != 0) deltas |= kModemDeltaCd;
  if ((changed & kModemRi) != 0 && (levels & kModemRi) == 0) deltas |= kModemRiTrailingEdge;
  modemLevels_ = levels;
  if (((changed | deltas) & modemMask_) != 0) NotifyModemState(deltas, host);
}

void Rfc2217Session::NotifyModemState(std::uint8_t deltas, Rfc2217Host& host) {
  if (!ComPortActive()) return;
  AnswerByte(comport::kNotifyModemState, (modemLevels_ | deltas) & modemMask_, host);
}

void Rfc2217Session::SetLineState(std::uint8_t state, Rfc2217Host& host) {
  const std::uint8_t changed = state ^ lineState_;
  lineState_ = state;
  if ((changed & lineMask_) == 0 || !ComPortActive()) return;
  AnswerByte(comport::kNotifyLineState, state & lineMask_, host);
}

}  // namespace cport::detail
