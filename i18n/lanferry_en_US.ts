<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>ConnectForm</name>
    <message>
        <source>IDS_TITLE_CONNECT</source>
        <translation>Device Connection</translation>
    </message>
    <message>
        <source>Connect</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>IP:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Password:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Port:</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Device</name>
    <message>
        <source>Download</source>
        <translation>Download shared files</translation>
    </message>
    <message>
        <source>IDS_SELECT_FILES</source>
        <translation>Select files to send</translation>
    </message>
    <message>
        <source>Send Files</source>
        <translation>Send Files</translation>
    </message>
    <message>
        <source>Share Files</source>
        <translation>Shared Files</translation>
    </message>
    <message>
        <source>Device</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Devices</name>
    <message>
        <source>Appear as</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Drop &amp; Send</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Help</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>IP: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Other Devices</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Password: </source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>DevicesModel</name>
    <message>
        <source>IDS_CONNECT_SERVER_FAILED</source>
        <translation>Device connection failed.</translation>
    </message>
    <message>
        <source>IDS_INVALID_CONNECTION_PASSWORD</source>
        <translation>Incorrect connection password.</translation>
    </message>
    <message>
        <source>IDS_REMOTE_ERROR_RETURN_%1_ERR_%2</source>
        <translation>Remote error, return %1. error: %2</translation>
    </message>
    <message>
        <source>If no local area network available, you can turn on your phone's hotspot to connect your computer.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>GlobalModel</name>
    <message>
        <source>IDS_FILE_NOT_EXISTS</source>
        <translation>The file does not exist.</translation>
    </message>
</context>
<context>
    <name>MainHeader</name>
    <message>
        <source>About</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Drop &amp; Send</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Help</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>MainLeft</name>
    <message>
        <source>Home</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Drop &amp; Send</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Share</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Tasks</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>MessageBoxContext</name>
    <message>
        <source>OK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Yes</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>MySettingForm</name>
    <message>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>OK</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>PassowrdInputForm</name>
    <message>
        <source>IDS_TITLE_CONNECTION_INVALID_PASSWORD</source>
        <translation>Incorrect connection password.</translation>
    </message>
    <message>
        <source>Connect</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Password:</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Tovantic Lanferry</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ServerModel</name>
    <message>
        <source>BTN_RETRY</source>
        <translation>Retry</translation>
    </message>
    <message>
        <source>IDS_%1_DOWNLOAD_SHARE_FILES</source>
        <translation>The device (%1) starts downloading the shared file.</translation>
    </message>
    <message>
        <source>IDS_LISTENNING_DEVICES_ERROR_%1</source>
        <translation>Failed to start the monitoring service, error %1</translation>
    </message>
    <message>
        <source>IDS_REMOTE_%1_REJECT_THE_TASK</source>
        <translation>The device (%1) refused to receive the file.</translation>
    </message>
    <message>
        <source>IDS_START_SERVER_ERROR_%1</source>
        <translation>Failed to start the core service , error %1</translation>
    </message>
    <message>
        <source>IDS_RECV_%1_FILES_FROM_%2(%3)_ACCEPT_ORNOT</source>
        <translation>Want to start receiving %1 files sent by the device (%2, IP: %3)?</translation>
    </message>
    <message>
        <source>Close</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ServerSettingForm</name>
    <message>
        <source>IDS_TITLE_SERVER_SETTING</source>
        <translation>System Settings</translation>
    </message>
    <message>
        <source>Name:</source>
        <translation>Name:</translation>
    </message>
    <message>
        <source>Password:</source>
        <translation>Password:</translation>
    </message>
    <message>
        <source>Port:</source>
        <translation>Port:</translation>
    </message>
</context>
<context>
    <name>Share</name>
    <message>
        <source>IDS_ADD_FILES</source>
        <translation>Add shared files</translation>
    </message>
    <message>
        <source>IDS_SELECT_FILES</source>
        <translation>Select the files to be shared</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Enable</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Files</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Share</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ShareFormModel</name>
    <message>
        <source>IDS_CONFIRM_TO_REMOVE_SELECTIONS</source>
        <translation>Confirm to delete the selected shared files?</translation>
    </message>
</context>
<context>
    <name>TaskMgrModel</name>
    <message>
        <source>IDS_CONFIRM_REMOVE_RUNNING_TASK</source>
        <translation>The task is in progress, confirm to delete?</translation>
    </message>
    <message>
        <source>IDS_CONFIRM_REMOVE_SELECTED_TASKS_PLEASE_NOT_RUNNING_TASKS</source>
        <translation>Confirm to delete the selected tasks?</translation>
    </message>
    <message>
        <source>IDS_CONFIRM_REMOVE_THIS_TASK</source>
        <translation>Confirm to to delete this task?</translation>
    </message>
    <message>
        <source>IDS_CONFIRM_STOP_TASK</source>
        <translation>Confirm to pause task?</translation>
    </message>
    <message>
        <source>IDS_REMOTE_FILE_NOT_EXISTS_MAYBE_TASK_DELETED</source>
        <translation>The file does not exist. The other device may have deleted the task.</translation>
    </message>
    <message>
        <source>IDS_TASK_INVALID_SERVER_CONNECT_FIRST</source>
        <translation>Connection failed, please connect the device manually</translation>
    </message>
    <message>
        <source>IDS_TASK_OPEN_FILE_ERROR</source>
        <translation>Failed to open file</translation>
    </message>
    <message>
        <source>IDS_TASK_OPEN_SEEK_FILE_ERROR</source>
        <translation>Failed to initialize the file open</translation>
    </message>
    <message>
        <source>IDS_TASK_REMOTE_ERROR</source>
        <translation>Internal error in the other device.</translation>
    </message>
    <message>
        <source>IDS_TASK_RENAME_FILE_ERROR</source>
        <translation>File rename failed.</translation>
    </message>
    <message>
        <source>IDS_TASK_WRITE_FILE_ERROR</source>
        <translation>Failed to write file.</translation>
    </message>
    <message>
        <source>Files: %1 / %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Files: %1 / %2, %3 failed</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Tasks</name>
    <message>
        <source>%1 / %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Delete</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Size: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Start</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stop</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Tasks</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>IDS_SELECT_SAVE_ROOT</source>
        <translation>Select the save directory</translation>
    </message>
</context>
</TS>
