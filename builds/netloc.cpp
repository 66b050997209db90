// The program netloc carries the release mark alone (driver/versionmarks.cpp): no build mark.
