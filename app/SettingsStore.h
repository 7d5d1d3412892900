// The per-user settings store: string values by section and entry, kept in one file per
// application at $XDG_CONFIG_HOME/<registry key>/<profile name>.conf (~/.config when the
// variable is unset or not absolute).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

class CSettingsStore {
public:
    // Names the location; until a key is set, reads give their defaults and writes fail.
    void SetLocation(std::u16string_view registryKey, std::u16string_view profileName);

    // The stored value, or the default when it is missing or the store cannot be read.
    // Creates the empty location (folder and file) on first use.
    std::u16string GetProfileString(std::u16string_view section, std::u16string_view entry,
                                    std::u16string_view defaultValue) const;
    // Replaces the file as a whole (temporary file, then rename), so it is never half
    // written. False when the value could not be stored.
    bool WriteProfileString(std::u16string_view section, std::u16string_view entry,
                            std::u16string_view value) const;

    // Where the values live; empty while no key is set.
    std::filesystem::path FilePath() const;

private:
    bool EnsureLocation() const;

    std::u16string m_szRegistryKey;
    std::u16string m_szProfileName;
};
