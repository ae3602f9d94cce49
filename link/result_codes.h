#pragma once
// Result codes of the core. 0 is success, every failure a negative code; the number is never shown
// to the user, the flows turn it into status texts and message boxes.
#include <cstdint>

namespace vanta {

using ResultCode = int32_t;

inline constexpr ResultCode RESULT_OK = 0;

inline constexpr ResultCode LINK_E_PORT = -1001;      // port cannot be opened/configured, speed refused
inline constexpr ResultCode LINK_E_TIMEOUT = -1002;   // no byte within the read time-out
inline constexpr ResultCode LINK_E_COMM = -1003;      // the port can no longer be read
inline constexpr ResultCode LINK_E_FRAME = -1004;     // illegal byte after DLE inside a frame
inline constexpr ResultCode LINK_E_CHECKSUM = -1005;  // frame check byte mismatch
inline constexpr ResultCode LINK_E_OVERFLOW = -1006;  // frame longer than the receive buffer
inline constexpr ResultCode LINK_E_WRITE = -1007;     // write failed or was short

inline constexpr ResultCode SESSION_E_NO_REPLY = -3001;        // no valid reply after three attempts
inline constexpr ResultCode SESSION_E_TOO_LONG = -3002;        // request longer than 1498 bytes
inline constexpr ResultCode SESSION_E_CLOSED = -3003;          // link not open
inline constexpr ResultCode SESSION_E_REPLY_TOO_LONG = -3004;  // reply larger than the caller's buffer
inline constexpr ResultCode SESSION_E_SPEED = -3005;           // probe's speed refused or silent there

inline constexpr ResultCode LDR_E_FIRMWARE_FILE = -4003;  // firmware image unreadable or bad record
inline constexpr ResultCode LDR_E_NOT_IN_LOADER = -4004;  // probe answered from running firmware
inline constexpr ResultCode LDR_E_BAD_REPLY = -4005;      // reply of wrong length or echo
inline constexpr ResultCode LDR_E_ERASE = -4006;          // probe reports a sector erase failure
inline constexpr ResultCode LDR_E_PROGRAM = -4007;        // probe reports a programming failure
inline constexpr ResultCode LDR_E_VERIFY = -4008;         // data read back differs
inline constexpr ResultCode SETUP_E_CONFIG_FILE = -4010;  // configuration file unreadable or >= 64 KiB
inline constexpr ResultCode SETUP_E_REG_FILE = -4011;     // register file unreadable or image >= 64 KiB
inline constexpr ResultCode SETUP_E_SERIAL = -4012;       // serial number too short to build the MAC
inline constexpr ResultCode UPDATE_E_BACKUP_FILE = -4013; // backup file cannot be written or read

// The code's name ("LINK_E_TIMEOUT"), or "OK", or "UNKNOWN(-n)" for a code not listed above.
const char* ResultName(ResultCode code);

}  // namespace vanta
