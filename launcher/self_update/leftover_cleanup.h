#pragma once

// Deletes what an earlier self-replacement left in the base directory: the
// ".old" copies of the launcher's own files, and nothing else.
void removeLeftovers();
