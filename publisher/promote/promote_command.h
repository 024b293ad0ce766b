#pragma once

#include "publisher/command/command_line.h"

// `orn-publish promote FROM TO --sign KEY`: publishes exactly the files of
// FROM's verified release into TO, held as a publish holds its channel,
// while FROM is held too (no publish may change it meanwhile).
int promoteCommand(const Options& options);

// `orn-publish rollback CHANNEL --to SERIAL --sign KEY`: publishes the files
// of an earlier release again, from the objects the channel still keeps.
int rollbackCommand(const Options& options);
