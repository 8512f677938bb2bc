// SPDX-License-Identifier: MIT
#pragma once
// Ownership of GLib objects (GMime, libgsf) in C++ scopes.

#include <glib-object.h>

#include <memory>

namespace quillbox {

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
/// A GObject owned by the scope: unreferenced when the pointer goes.
template <class T> using GPtr = std::unique_ptr<T, GObjectUnref>;

} // namespace quillbox
