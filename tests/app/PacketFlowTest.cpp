// Filled in by the tests of this area.
