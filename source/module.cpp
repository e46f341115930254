// The shared module's own translation unit: the exported functions come from
// the whole internal library, linked in entirely.
