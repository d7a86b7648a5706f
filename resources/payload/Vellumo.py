"""Vellumo for DaVinci Resolve.

Starts the Vellumo caption studio from Workspace > Scripts > Vellumo. The
studio is installed per user by the Vellumo setup into
%LOCALAPPDATA%\\Programs\\Vellumo for DaVinci Resolve\\VellumoCompanion.exe.
"""

import os
import subprocess
import sys

FOLDER_NAME = "Vellumo for DaVinci Resolve"
COMPANION = "VellumoCompanion.exe"


def companion_path():
    local = os.environ.get("LOCALAPPDATA")
    if not local:
        local = os.path.join(os.path.expanduser("~"), "AppData", "Local")
    return os.path.join(local, "Programs", FOLDER_NAME, COMPANION)


def main():
    path = companion_path()
    if not os.path.isfile(path):
        print("Vellumo: the caption studio was not found at " + path + ".")
        print("Vellumo: run the Vellumo setup again to repair the installation.")
        return 1
    flags = 0
    if sys.platform == "win32":
        # Let the studio outlive the script and keep no console window.
        flags = subprocess.DETACHED_PROCESS | subprocess.CREATE_NEW_PROCESS_GROUP
    try:
        subprocess.Popen([path], cwd=os.path.dirname(path), close_fds=True,
                         creationflags=flags)
    except OSError as error:
        print("Vellumo: the caption studio could not be started: " + str(error))
        return 1
    print("Vellumo: the caption studio is starting.")
    return 0


main()
