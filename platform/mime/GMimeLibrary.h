#pragma once

// The process-wide set-up of GMime.
class GMimeLibrary {
public:
    // Initialises GMime once per process; safe to call from any thread, any number of times.
    static void initialise();
};
