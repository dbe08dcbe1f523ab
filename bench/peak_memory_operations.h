// The operations whose peak memory a child process measures (peak_memory.h):
// each a name and its arguments, as the benchmark passes them.
#pragma once

#include <string>
#include <vector>

namespace doorlink::bench {

// Performs operation words[0] with the arguments that follow: 0 when it
// succeeded, 1 when it failed, 2 for an unknown operation or wrong arguments.
//
//   home DIR OPERATION...                 the operation with DIR as its module directory
//   idle                                  nothing: the bare program
//   convert SOURCE COUNT LIST KIND        TransformName
//   signal SOURCE CARD KIND               FormatSignalName, FormatSignalName1
//   download ADDRESS COUNT LIST MAC KIND  DownName
//   read-back ADDRESS LIST MAC            LookDoorName
//   to-ini READ_BACK_FILE NUMBER          NameToini
//   retrieve ADDRESS CONTROLLER MAC       DataRtn, with photos
//   transfer ADDRESS CONTROLLER MAC       TxDataRtn
int run_operation(const std::vector<std::string>& words);

}  // namespace doorlink::bench
