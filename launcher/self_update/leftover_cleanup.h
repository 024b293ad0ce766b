#pragma once

// Mends what a self-replacement cut short left in the base directory, then
// deletes its ".old" copies of the launcher's own files, and nothing else.
// An own file found missing gets its verified ".new" copy back in place, or
// else its ".old" one: a kill between the two moves of a swap loses nothing.
void removeLeftovers();
