// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "base/Error.h"
#include "record/MediaInterfaces.h"
#include "record/SampleReceiver.h"

#include <functional>

namespace tavrin::record {

class BaseFilter;

// The recording's file: takes each source pin's samples (the picture through the
// chosen compressor) and writes them into one AVI file, with nothing generic in
// between. Made by MediaPlatform::CreateAviMux; also answers IMediaSeeking.
class RecordingSink : public IMediaSeeking {
  public:
    using Notify = std::function<void(int32_t code, const base::Error& error)>;

    // The input for one more stream of that major type, reached through `intermediate`
    // (the compressor for the picture; "PCM" or none for the sound); null when the sink
    // cannot take such a stream through it. The stream's type is settled when a pin
    // connects to the input.
    virtual SampleReceiver* inputFor(const GUID& majorType, BaseFilter* intermediate) = 0;
    // Writes the file's header; after the pins are connected, before the first sample.
    virtual HRESULT start() = 0;
    // Completes the file once the sources have stopped; harmless when done already.
    virtual HRESULT stop() = 0;
    // How failures (a full disk, an encoder error) reach the graph; any thread.
    void setNotify(Notify notify) { notify_ = std::move(notify); }

  protected:
    void notify(int32_t code, const base::Error& error) {
        if (notify_)
            notify_(code, error);
    }

  private:
    Notify notify_;
};

} // namespace tavrin::record
