// Calibration records: one file per device, keyed by its serial number, one entry per wavelength, in the
// data folder; written atomically so that a crash never leaves half a record.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "calibration/Curve.h"

namespace calibration {

struct RecordError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Entry {
    double wavelengthNm = 0.0; // 0 when the meter has none and none was given
    std::string date;          // ISO 8601, UTC
    std::string meter;         // the meter's identity
    std::vector<Sample> samples;
    CurveFit fit;
};

struct Record {
    std::string serial;
    std::vector<Entry> entries; // ascending wavelength
};

// The time now as an entry's date: 2026-01-12T09:30:00Z.
std::string NowUtc();

// $XDG_DATA_HOME/optivane/calibrations (by default under ~/.local/share).
std::string RecordsFolder();
std::string RecordPath(const std::string &serial);

// The device's record; no entries when it has none. Throws RecordError for a file that cannot be read.
Record LoadRecord(const std::string &serial);
// Adds the entry, replacing one at the same wavelength, and writes the file atomically. Throws RecordError.
void SaveEntry(const std::string &serial, const Entry &entry);
// The serial numbers that have a record, sorted.
std::vector<std::string> ListSerials();
// The entry at the wavelength (within 0.5 nm), or the record's only one when none is given. Throws
// RecordError saying what exists and how to make one.
const Entry &FindEntry(const Record &record, std::optional<double> wavelengthNm);

} // namespace calibration
