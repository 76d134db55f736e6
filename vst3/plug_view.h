// The editor as a VST 3 view. On Linux it is an X11 child window of the host's window, served by
// the host's run loop (the frame's Linux::IRunLoop): the X connection's descriptor for events and
// a ~30 Hz timer that redraws when the picture changed. It never runs a thread of its own.
//
// The view holds a reference to its plug-in, so that a host that releases the plug-in before the
// view still finds the view working; edits then go nowhere, since the plug-in has let go of its
// component handler.
#pragma once

#include <memory>

#include "editor/embedded_view.h"
#include "vst3/vst3_abi.h"

namespace vst3glue {

class ZelkoVst3;

// What a view asks of its plug-in, all on the main thread: its values and edits, and a
// reference that keeps the plug-in alive while the view is.
class ViewHost : public editor::ViewSource {
  public:
    virtual void viewOpened() = 0;
    virtual void viewClosed() = 0;
    virtual vst3::uint32 ZELKO_VST3_API addRef() = 0;
    virtual vst3::uint32 ZELKO_VST3_API release() = 0;
};

// Whether this build has a view for the platform the host names.
bool viewSupportsPlatform(vst3::FIDString type);

// A new view with one reference, or null where this build has no view.
vst3::IPlugView* createPlugView(ViewHost& host);

// How often the view looks for a new picture.
inline constexpr vst3::uint64 kFrameMilliseconds = editor::frameMilliseconds;

}  // namespace vst3glue
