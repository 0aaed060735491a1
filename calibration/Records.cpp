// Calibration records as JSON files, one per device.
#include "calibration/Records.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>

#include <nlohmann/json.hpp>

#include "calibration/Files.h"

namespace calibration {

namespace {

using nlohmann::json;

// The format of the file; a later one that reads differently gets another number.
constexpr int kFormat = 1;
// Entries closer than this are one wavelength.
constexpr double kSameWavelengthNm = 0.5;

std::string Environment(const char *name) {
    const char *value = std::getenv(name);
    return value != nullptr ? value : "";
}

// A serial number names a file, so it may not name a path.
void CheckSerial(const std::string &serial) {
    if (serial.empty() || serial.find_first_of("/\\") != std::string::npos || serial[0] == '.' ||
        std::any_of(serial.begin(), serial.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
        throw RecordError("'" + serial + "' is no serial number a record can be kept under");
}

std::string Nanometres(double nm) {
    char text[32];
    std::snprintf(text, sizeof text, "%g nm", nm);
    return text;
}

// An infinite extinction (Pmin at or below 0) is written as null.
json Finite(double value) {
    return std::isfinite(value) ? json(value) : json(nullptr);
}

json EntryJson(const Entry &entry) {
    json samples = json::array();
    for (const Sample &sample : entry.samples)
        samples.push_back({sample.angleDeg, sample.powerW});
    const CurveFit &fit = entry.fit;
    return {
        {"wavelength_nm", entry.wavelengthNm},
        {"date", entry.date},
        {"meter", entry.meter},
        {"points", fit.points},
        {"span_deg", fit.spanDeg},
        {"offset_deg", fit.offsetDeg},
        {"offset_uncertainty_deg", fit.offsetUncertaintyDeg},
        {"pmin_w", fit.pminW},
        {"pmax_w", fit.pmaxW},
        {"extinction_db", Finite(fit.extinctionDb)},
        {"residual_rms", fit.residualRmsRelative},
        {"fit", {{"a", fit.a}, {"b", fit.b}, {"c", fit.c}}},
        {"samples", samples},
    };
}

Entry EntryFromJson(const json &object) {
    Entry entry;
    entry.wavelengthNm = object.at("wavelength_nm").get<double>();
    entry.date = object.at("date").get<std::string>();
    entry.meter = object.at("meter").get<std::string>();
    for (const json &sample : object.at("samples"))
        entry.samples.push_back({sample.at(0).get<double>(), sample.at(1).get<double>()});
    CurveFit &fit = entry.fit;
    fit.points = object.at("points").get<std::size_t>();
    fit.spanDeg = object.at("span_deg").get<double>();
    fit.offsetDeg = object.at("offset_deg").get<double>();
    fit.offsetUncertaintyDeg = object.at("offset_uncertainty_deg").get<double>();
    fit.pminW = object.at("pmin_w").get<double>();
    fit.pmaxW = object.at("pmax_w").get<double>();
    const json &extinction = object.at("extinction_db");
    fit.extinctionDb = extinction.is_null() ? HUGE_VAL : extinction.get<double>();
    fit.residualRmsRelative = object.at("residual_rms").get<double>();
    fit.a = object.at("fit").at("a").get<double>();
    fit.b = object.at("fit").at("b").get<double>();
    fit.c = object.at("fit").at("c").get<double>();
    return entry;
}

} // namespace

std::string NowUtc() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string RecordsFolder() {
    std::string base = Environment("XDG_DATA_HOME");
    if (base.empty()) {
        const std::string home = Environment("HOME");
        base = (home.empty() ? std::string() : home) + "/.local/share";
    }
    return base + "/optivane/calibrations";
}

std::string RecordPath(const std::string &serial) {
    CheckSerial(serial);
    return RecordsFolder() + "/" + serial + ".json";
}

Record LoadRecord(const std::string &serial) {
    const std::string path = RecordPath(serial);
    Record record;
    record.serial = serial;
    std::optional<std::string> contents;
    try {
        contents = ReadFileIfAny(path);
    } catch (const std::runtime_error &error) {
        throw RecordError(error.what());
    }
    if (!contents)
        return record;
    try {
        const json document = json::parse(*contents);
        if (document.at("format").get<int>() > kFormat)
            throw RecordError(path + " was written by a later version of this software; it is left as it is");
        for (const json &entry : document.at("entries"))
            record.entries.push_back(EntryFromJson(entry));
    } catch (const json::exception &error) {
        throw RecordError(path + " is no calibration record (" + error.what() +
                          "); move it aside and calibrate again to start a new one");
    }
    std::sort(record.entries.begin(), record.entries.end(),
              [](const Entry &a, const Entry &b) { return a.wavelengthNm < b.wavelengthNm; });
    return record;
}

void SaveEntry(const std::string &serial, const Entry &entry) {
    // A record that cannot be read is never overwritten: LoadRecord throws first.
    Record record = LoadRecord(serial);
    record.entries.erase(std::remove_if(record.entries.begin(), record.entries.end(),
                                        [&](const Entry &old) {
                                            return std::fabs(old.wavelengthNm - entry.wavelengthNm) < kSameWavelengthNm;
                                        }),
                         record.entries.end());
    record.entries.push_back(entry);
    std::sort(record.entries.begin(), record.entries.end(),
              [](const Entry &a, const Entry &b) { return a.wavelengthNm < b.wavelengthNm; });
    json entries = json::array();
    for (const Entry &kept : record.entries)
        entries.push_back(EntryJson(kept));
    const json document = {{"format", kFormat}, {"serial", serial}, {"entries", entries}};
    try {
        MakeFolders(RecordsFolder(), 0700);
        WriteFileAtomically(RecordPath(serial), document.dump(2) + "\n", 0644);
    } catch (const std::runtime_error &error) {
        throw RecordError(std::string("the calibration was not saved: ") + error.what());
    }
}

std::vector<std::string> ListSerials() {
    std::vector<std::string> serials;
    DIR *folder = ::opendir(RecordsFolder().c_str());
    if (folder == nullptr)
        return serials;
    while (const dirent *item = ::readdir(folder)) {
        const std::string name = item->d_name;
        const std::string suffix = ".json";
        if (name.size() > suffix.size() && name[0] != '.' &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            serials.push_back(name.substr(0, name.size() - suffix.size()));
    }
    ::closedir(folder);
    std::sort(serials.begin(), serials.end());
    return serials;
}

const Entry &FindEntry(const Record &record, std::optional<double> wavelengthNm) {
    if (record.entries.empty())
        throw RecordError("no calibration for " + record.serial +
                          "; make one with: optivane calibrate PORT --meter ADDRESS");
    std::string known;
    for (const Entry &entry : record.entries)
        known += (known.empty() ? "" : ", ") + Nanometres(entry.wavelengthNm);
    if (!wavelengthNm) {
        if (record.entries.size() == 1)
            return record.entries.front();
        throw RecordError(record.serial + " has calibrations at " + known + "; name the wavelength");
    }
    for (const Entry &entry : record.entries) {
        if (std::fabs(entry.wavelengthNm - *wavelengthNm) < kSameWavelengthNm)
            return entry;
    }
    throw RecordError("no calibration for " + record.serial + " at " + Nanometres(*wavelengthNm) + " (it has " + known +
                      "); make one with: optivane calibrate PORT --meter ADDRESS --wavelength " +
                      Nanometres(*wavelengthNm).substr(0, Nanometres(*wavelengthNm).size() - 3));
}

} // namespace calibration
