// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/FilterGraph.h"
#include "record/MediaPlatform.h"

#include <memory>
#include <string>

namespace tavrin::record {

class BaseOutputPin;

// Builds capture graphs: adds the file writer and joins source, optional
// intermediate filter and sink with one call per stream.
class CaptureGraphBuilder {
  public:
    explicit CaptureGraphBuilder(MediaPlatform& platform);

    HRESULT SetFiltergraph(std::shared_ptr<FilterGraph> graph);
    HRESULT GetFiltergraph(std::shared_ptr<FilterGraph>* graph) const;

    // Adds the multiplexer with its file writer to the graph (as "AVI Mux").
    HRESULT SetOutputFileName(const GUID& type, const std::string& fileName,
                              std::shared_ptr<BaseFilter>* mux);
    // Why the last SetOutputFileName failed, for the user.
    const std::string& lastError() const { return lastError_; }

    // Connects the first free output pin of `source` of that category and major type
    // through `intermediate` (if any) to a free input pin of `sink`.
    HRESULT RenderStream(const GUID* category, const GUID* majorType, BaseFilter* source,
                         BaseFilter* intermediate, BaseFilter* sink);

    // The free output pin of `filter` with that category and major type, or null.
    static BaseOutputPin* FindPin(BaseFilter* filter, const GUID* category, const GUID* majorType);

  private:
    MediaPlatform& platform_;
    std::shared_ptr<FilterGraph> graph_;
    std::string lastError_;
};

} // namespace tavrin::record
