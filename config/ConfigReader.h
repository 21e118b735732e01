// Reader of the detection configuration file (INI text) with its built-in defaults.
#pragma once

#include <ace/Configuration.h>

#include <map>
#include <set>
#include <string>

namespace sfad {

class ConfigReader {
 public:
  // Whether a single value missing from the file reads as its built-in default or as "".
  enum class Defaults { kNone, kBuiltIn };

  // Imports the file at once; a missing or unreadable file leaves nothing imported, which
  // every read then answers with its default.
  ConfigReader(const std::string& path, Defaults defaults);

  ConfigReader(const ConfigReader&) = delete;
  ConfigReader& operator=(const ConfigReader&) = delete;

  // One value unchanged; the built-in default (or "") when the file, the section or the
  // value is missing. A value present but empty stays empty.
  std::string readValue(const std::string& section, const std::string& name);

  // Adds the lower-cased, comma-separated items of one value to items.
  void readList(const std::string& section, const std::string& name, std::set<std::string>& items);

  // Stores, for every value of the section, its lower-cased name with the set of its
  // lower-cased, comma-separated items (a later name replaces an earlier equal one).
  void readSection(const std::string& section,
                   std::map<std::string, std::set<std::string>>& entries);

  const std::string& path() const { return path_; }
  int importResult() const { return importResult_; }

 private:
  bool openSection(const std::string& section, ACE_Configuration_Section_Key& key);
  bool readString(const ACE_Configuration_Section_Key& key, const ACE_TCHAR* name,
                  std::string& value);
  std::string defaultValue(const std::string& section, const std::string& name) const;

  const std::string path_;
  const std::map<std::string, std::string> defaults_;

  ACE_Configuration_Heap heap_;
  int importResult_ = -1;
};

}  // namespace sfad
