#pragma once

#include "publisher/signing/signing.h"

#include <filesystem>
#include <string>
#include <vector>

// `orn-publish adoption`: from the web server's access logs, per UTC day and
// per kept release of the channel, how many launcher starts asked for that
// release and how many were answered with errors, and how many lines could
// not be read. 0 when every log was read to its end; 1 when one cannot be
// read or no kept release is known; 2 when the key is refused.
int adoptionCommand(const std::filesystem::path& channel, const std::vector<std::string>& logs,
                    const SigningRequest& keys);
