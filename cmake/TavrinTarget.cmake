# SPDX-License-Identifier: GPL-2.0-or-later
function(tavrin_target_defaults target)
  target_compile_options(${target} PRIVATE ${TAVRIN_WARNINGS})
endfunction()
