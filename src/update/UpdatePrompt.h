// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>

namespace tavrin::update {

inline constexpr const char* kUpdatePromptText = "A software update is available. Get it now?";
inline constexpr const char* kUpdatePromptCaption = "Tavrin Capture";

// The question to the user about a newer release, owned by the control window.
class UpdatePrompt {
  public:
    virtual ~UpdatePrompt() = default;
    // Hands the question over to the control window's thread and returns at
    // once: there a Yes/No box (kUpdatePromptText, kUpdatePromptCaption) is
    // shown, and Yes opens `url`, which is always an http or https address.
    virtual void offerUpdate(const std::string& url) = 0;
};

} // namespace tavrin::update
