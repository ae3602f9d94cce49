#pragma once
// A serial port that passes every call on to another one: the base of ports that change one
// thing about a port and must not drift from the interface as it grows (a call they forgot to
// pass on would silently fall back to the interface's default).
#include <memory>
#include <string>

#include "platform/serial_port.h"

namespace vanta {

class ForwardingPort : public SerialPort {
 public:
  explicit ForwardingPort(std::unique_ptr<SerialPort> inner) : inner_(std::move(inner)) {}
  PortStatus OpenPort(const std::string& device) override { return inner_->OpenPort(device); }
  const OpenFailure& LastOpenFailure() const override { return inner_->LastOpenFailure(); }
  PortStatus SetPortSpeed(uint32_t bitsPerSecond) override {
    return inner_->SetPortSpeed(bitsPerSecond);
  }
  PortStatus DrainOutput(uint32_t timeoutMs) override { return inner_->DrainOutput(timeoutMs); }
  uint32_t Speed() const override { return inner_->Speed(); }
  void PurgeInput() override { inner_->PurgeInput(); }
  PortStatus ReadByte(uint8_t& byte, uint32_t timeoutMs) override {
    return inner_->ReadByte(byte, timeoutMs);
  }
  PortStatus WriteBlock(const uint8_t* data, size_t count) override {
    return inner_->WriteBlock(data, count);
  }
  ModemLines GetModemLines() override { return inner_->GetModemLines(); }
  void ClosePort() override { inner_->ClosePort(); }

 protected:
  SerialPort& Inner() { return *inner_; }

 private:
  std::unique_ptr<SerialPort> inner_;
};

// The dialog's flows open "\\.\COMn" by Port list index; the command line and the soak name any
// device. This port opens its own device whatever name the link asks for.
class FixedDevicePort : public ForwardingPort {
 public:
  FixedDevicePort(std::string device, std::unique_ptr<SerialPort> inner)
      : ForwardingPort(std::move(inner)), device_(std::move(device)) {}
  PortStatus OpenPort(const std::string&) override { return Inner().OpenPort(device_); }

 private:
  std::string device_;
};

}  // namespace vanta
