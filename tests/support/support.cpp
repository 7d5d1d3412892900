// Shared test fixtures live beside this file.
