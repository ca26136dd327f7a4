#pragma once

#include <string>

namespace tavrin::screenshot {

// The `outputFolder` setting: where screenshots and recordings go.
class OutputFolder {
  public:
    virtual ~OutputFolder() = default;
    // The folder, ending in '/', or empty (files then go to the current directory).
    virtual std::string outputFolder() const = 0;
    virtual void setOutputFolder(const std::string& folder) = 0;
};

} // namespace tavrin::screenshot
