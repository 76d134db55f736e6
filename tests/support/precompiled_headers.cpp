// Nothing of its own: this program only owns the precompiled GoogleTest and GoogleMock headers
// that every test suite reuses.
