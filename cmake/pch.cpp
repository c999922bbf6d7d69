// Anchor for the shared precompiled Qt headers.
