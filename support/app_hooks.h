#pragma once
// The two things the support library takes from the application above it.
// The application defines them; the weak defaults here let the libraries and
// their tests link without it.

// Releases what must not outlive a fatal error (DDE server, modules).
void shutdown(void);

// Nonzero while the modules run on real hardware; 0 in emulation.
extern int hardware;
