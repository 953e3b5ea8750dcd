#pragma once
// The things the support library takes from the application above it.
// The application defines them; the weak defaults here let the libraries and
// their tests link without it.

// Releases what must not outlive a fatal error (DDE server, modules).
void shutdown(void);

// Nonzero while the modules run on real hardware; 0 in emulation.
extern int hardware;

// Whether the file system holding drive (a drive or a directory; "" is the
// current one) is mounted and writable: *ready 1 or 0. Returns 0, or a
// negative status when it cannot ask.
int IsDriveReady(const char *drive, int *ready);
