# The virtual display of the tests that need one, each its own:
# ${VELLUMO_XVFB_RUN} COMMAND... runs COMMAND on it. -noreset: Xvfb otherwise
# starts afresh whenever its last client leaves, and turns away a program that
# connects in that moment, as one does when the test's previous program has
# just closed. A desktop's display never does that.
find_program(XVFB_RUN xvfb-run)
set(VELLUMO_XVFB_RUN "${XVFB_RUN}" -a -s "-screen 0 1280x1024x24 -noreset")
