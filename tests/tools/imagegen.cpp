// vanta7-imagegen: writes firmware (S-record) and logic (JEDEC) test images into a directory,
// named as the tool looks for them ("VT7PP4FW.005", "PP4JEDK0.012").
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/support/image_gen.h"

namespace {

void Usage() {
  std::fprintf(stderr,
               "usage: vanta7-imagegen --firmware VERSION --size BYTES --out DIR\n"
               "                       [--record-len N] [--type 1|2|3] [--address ADDR]\n"
               "                       [--crlf] [--lower] [--seed N] [--gap-fill N]\n"
               "       vanta7-imagegen --jedec VERSION --out DIR [--base PP4JEDK0|PP4JEDK1]\n"
               "                       [--width N] [--crlf] [--seed N]\n");
}

bool Number(const char* text, unsigned long& value) {
  char* end = nullptr;
  value = std::strtoul(text, &end, 0);
  return end != text && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vanta::test;
  unsigned long firmware = 0, jedec = 0, size = 0, recordLength = 32, type = 3, width = 60;
  unsigned long address = kImageFirmwareSector, seed = 1, gapFill = 0;
  bool haveFirmware = false, haveJedec = false, crlf = false, lower = false;
  std::string out, base = "PP4JEDK0";

  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    unsigned long* number = nullptr;
    if (arg == "--crlf") {
      crlf = true;
    } else if (arg == "--lower") {
      lower = true;
    } else if (arg == "--out" && hasValue) {
      out = argv[++i];
    } else if (arg == "--base" && hasValue) {
      base = argv[++i];
    } else {
      if (arg == "--firmware") number = &firmware, haveFirmware = true;
      if (arg == "--jedec") number = &jedec, haveJedec = true;
      if (arg == "--size") number = &size;
      if (arg == "--record-len") number = &recordLength;
      if (arg == "--type") number = &type;
      if (arg == "--address") number = &address;
      if (arg == "--width") number = &width;
      if (arg == "--seed") number = &seed;
      if (arg == "--gap-fill") number = &gapFill;
      if (number == nullptr || !hasValue || !Number(argv[++i], *number)) {
        Usage();
        return 2;
      }
    }
  }
  if (out.empty() || haveFirmware == haveJedec) {
    Usage();
    return 2;
  }
  if (out.back() != '/') out += '/';

  if (haveFirmware) {
    if (firmware < 1 || firmware > 255 || type < 1 || type > 3 || recordLength < 1 ||
        recordLength > 250) {
      Usage();
      return 2;
    }
    FirmwareParams params;
    params.version = static_cast<uint8_t>(firmware);
    params.size = static_cast<uint32_t>(size);
    params.address = static_cast<uint32_t>(address);
    params.recordLength = static_cast<int>(recordLength);
    params.style.type = static_cast<int>(type);
    params.style.crlf = crlf;
    params.style.lowerCase = lower;
    params.seed = static_cast<uint32_t>(seed);
    params.gapFill = static_cast<uint32_t>(gapFill);
    const FirmwareImage image = MakeFirmwareImage(params);
    if (image.text.empty()) {
      std::fprintf(stderr, "vanta7-imagegen: address range does not fit S%lu records\n", type);
      return 1;
    }
    const std::string path = out + ImageFileName("VT7PP4FW", params.version);
    if (!WriteTextFile(path, image.text)) {
      std::fprintf(stderr, "vanta7-imagegen: cannot write %s\n", path.c_str());
      return 1;
    }
    std::printf("%s\n", path.c_str());
    return 0;
  }

  if (jedec < 1 || jedec > 255 || width < 1 || (base != "PP4JEDK0" && base != "PP4JEDK1")) {
    Usage();
    return 2;
  }
  JedecParams params;
  params.version = static_cast<uint16_t>(jedec);
  params.lineWidth = static_cast<int>(width);
  params.crlf = crlf;
  params.seed = static_cast<uint32_t>(seed);
  const std::string path = out + ImageFileName(base, params.version);
  if (!WriteTextFile(path, MakeJedecImage(params).text)) {
    std::fprintf(stderr, "vanta7-imagegen: cannot write %s\n", path.c_str());
    return 1;
  }
  std::printf("%s\n", path.c_str());
  return 0;
}
