// Runs the built programs as a user would (see harness.h).
