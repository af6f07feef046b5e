#pragma once

// The catalogue's WAL writes, gathered into one system call per commit.

namespace platform::dbdetail {

/// The name of a VFS that is SQLite's own "unix" VFS with one difference: the frames a commit
/// appends to a WAL reach the file in one write instead of two per page (a frame's header, then
/// its page). On this kind of machine each write is a system call of a few microseconds, and a
/// commit of one catalogue row touches four pages.
///
/// Only the frames appended at the WAL's end are held, in the order SQLite writes them, and they
/// are written out at the latest with the page of the commit frame, so the write that ends a
/// commit reports every failure of its frames, before SQLite makes the commit visible to anyone.
/// Any other call on the WAL (a read, a sync, a truncation, its size, closing it) writes what is
/// held first, so SQLite never sees the file other than as it wrote it.
///
/// Nil when the VFS cannot be registered: connections then open with SQLite's default.
const char *WalWritesVfs();

} // namespace platform::dbdetail
