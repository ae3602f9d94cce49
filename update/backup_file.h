#pragma once
// The reader of backup files that restore runs before anything is erased: every line checked,
// the bytes the file names laid out over the whole flash.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "link/flash_map.h"

namespace vanta {

// The flash as a backup file describes it: a byte for every address of the flash, with the ones
// the file names marked present.
struct FlashContents {
  std::vector<uint8_t> bytes = std::vector<uint8_t>(kFlashSize, 0xFF);
  std::vector<bool> present = std::vector<bool>(kFlashSize, false);
  std::string header;  // the S0 text, "" without one
};

// What is wrong with a backup file: the line (from 1; 0 for the file as a whole) and a sentence.
struct BackupFileProblem {
  int line = 0;
  std::string what;
};

// Reads and checks the whole file: every line a well-formed S0, S3, S5 or S7 record with a correct
// checksum, every data byte inside the flash and outside the loader's sector, at least one data
// byte, no address given twice with different bytes, and an end record (S7, S8 or S9) with
// nothing after it: a file cut short at a record boundary is refused. true with contents holding
// the file alone (nothing of what it held before); false with problem filled at the first fault
// and contents left as it was.
bool ReadBackupFile(const std::string& path, FlashContents& contents, BackupFileProblem& problem);

// The same reading of a file's bytes already in memory; name stands for the file in the problem
// text. sectors, when given, gets with a true result the start addresses of the sectors the file
// gives bytes in, ascending: what TouchedSectors finds in contents, known from the records
// without looking through the whole flash.
bool ReadBackupText(const uint8_t* data, size_t size, const std::string& name,
                    FlashContents& contents, BackupFileProblem& problem,
                    std::vector<uint32_t>* sectors = nullptr);

}  // namespace vanta
