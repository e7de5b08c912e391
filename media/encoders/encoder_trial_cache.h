#pragma once

// The outcomes of the encoders' trial encodings, kept between runs in the user's cache
// folder. A trial takes a few hundred milliseconds for all encoders together, and start-up
// needs the list of compressors; the outcome only changes when the installed plugins do. So
// the outcomes are filed under a fingerprint of every installed plugin (name, version, file,
// its size and time), and a different fingerprint means they are tried again.
//
// Needs a started media framework. Not thread safe: one owner at a time.

#include <map>
#include <optional>
#include <string>

namespace media {

class EncoderTrialCache {
public:
    // folder: where the file lives; empty for the user's cache folder.
    explicit EncoderTrialCache(const std::string& folder = {});

    // The outcome filed for a factory under the installed plugins' fingerprint; nullopt
    // when it has not been tried with these plugins.
    std::optional<bool> Known(const std::string& factoryName) const;
    void Record(const std::string& factoryName, bool passed);
    // Writes the outcomes when something was recorded; the file is replaced whole.
    bool Save() const;

    const std::string& Fingerprint() const { return fingerprint_; }
    const std::string& FilePath() const { return path_; }

private:
    std::string path_;
    std::string fingerprint_;
    std::map<std::string, bool> outcomes_;
    bool changed_ = false;
};

// A fingerprint of the installed plugins as the media framework's registry knows them.
std::string InstalledPluginsFingerprint();

}  // namespace media
