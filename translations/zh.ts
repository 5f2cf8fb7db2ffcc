<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
    <context>
        <name>CommTcp</name>
        <message>
            <source>Warning</source>
            <translation>警告</translation>
        </message>
        <message>
            <source>Device not connected!</source>
            <translation>设备未连接！</translation>
        </message>
        <message>
            <source>Send command failed!</source>
            <translation>发送命令失败！</translation>
        </message>
        <message>
            <source>Information</source>
            <translation>提示信息</translation>
        </message>
        <message>
            <source>Set device's IP Settings success!</source>
            <translation>设置设备IP参数成功！</translation>
        </message>
        <message>
            <source>Reset device's IP Settings success!</source>
            <translation>重置设备IP参数成功！</translation>
        </message>
        <message>
            <source>Set device's date success!</source>
            <translation>设置设备日期成功！</translation>
        </message>
    </context>
    <context>
        <name>MainWindow</name>
        <message>
            <source>Fieldmate</source>
            <translation>Fieldmate</translation>
        </message>
        <message>
            <source>Device IP:</source>
            <translation>设备IP：</translation>
        </message>
        <message>
            <source>Clear history</source>
            <translation>清除历史</translation>
        </message>
        <message>
            <source>Programming</source>
            <translation>程序烧写</translation>
        </message>
        <message>
            <source>Settings</source>
            <translation>设置</translation>
        </message>
        <message>
            <source>Fixed Parameters</source>
            <translation>固定参数</translation>
        </message>
        <message>
            <source>Display Log</source>
            <translation>查看日志</translation>
        </message>
        <message>
            <source>Serial Port Test</source>
            <translation>串口测试</translation>
        </message>
        <message>
            <source>Device Search</source>
            <translation>设备搜索</translation>
        </message>
        <message>
            <source>root</source>
            <translation>root</translation>
        </message>
        <message>
            <source>Tool</source>
            <translation>工具</translation>
        </message>
        <message>
            <source>Reboot Device</source>
            <translation>重启设备</translation>
        </message>
        <message>
            <source>Window</source>
            <translation>窗口</translation>
        </message>
        <message>
            <source>Font</source>
            <translation>字体</translation>
        </message>
        <message>
            <source>Language</source>
            <translation>语言</translation>
        </message>
        <message>
            <source>English</source>
            <translation>English</translation>
        </message>
        <message>
            <source>Chinese</source>
            <translation>中文</translation>
        </message>
        <message>
            <source>Help</source>
            <translation>帮助</translation>
        </message>
        <message>
            <source>About</source>
            <translation>关于</translation>
        </message>
        <message>
            <source>&lt;font color=#00FF00&gt;Connected to device</source>
            <translation>&lt;font color=#00FF00&gt;已连接设备</translation>
        </message>
        <message>
            <source>Disconnect</source>
            <translation>断开</translation>
        </message>
        <message>
            <source>&lt;font color=#FF0000&gt;Disconnect with device</source>
            <translation>&lt;font color=#FF0000&gt;未连接设备</translation>
        </message>
        <message>
            <source>Connect</source>
            <translation>连接</translation>
        </message>
        <message>
            <source>Tip</source>
            <translation>提示</translation>
        </message>
        <message>
            <source>Device IP Address could not be null!</source>
            <translation>设备IP地址不能为空！</translation>
        </message>
        <message>
            <source>Device IP Address format error!</source>
            <translation>设备IP地址格式错误！</translation>
        </message>
        <message>
            <source>Connect to device failed, %1!</source>
            <translation>连接设备失败，%1！</translation>
        </message>
        <message>
            <source>Warning</source>
            <translation>警告</translation>
        </message>
        <message>
            <source>Are you sure to reboot device?</source>
            <translation>确定要重启设备吗？</translation>
        </message>
        <message>
            <source>Built on</source>
            <translation>构建于</translation>
        </message>
        <message>
            <source>This software is used for device programming and settings.</source>
            <translation>本软件用于设备程序烧写与参数设置。</translation>
        </message>
        <message>
            <source>About Fieldmate</source>
            <translation>关于 Fieldmate</translation>
        </message>
    </context>
    <context>
        <name>MsgBox</name>
        <message>
            <source>Sure</source>
            <translation>确定</translation>
        </message>
    </context>
    <context>
        <name>PageRoot</name>
        <message>
            <source>Form</source>
            <translation>窗体</translation>
        </message>
        <message>
            <source>Send Command</source>
            <translation>发送命令</translation>
        </message>
        <message>
            <source>Send</source>
            <translation>发送</translation>
        </message>
        <message>
            <source>Send: </source>
            <translation>发送：</translation>
        </message>
        <message>
            <source>Recv: </source>
            <translation>接收：</translation>
        </message>
    </context>
    <context>
        <name>ProgrammingPage</name>
        <message>
            <source>APP</source>
            <translation>应用程序</translation>
        </message>
        <message>
            <source>Firmware</source>
            <translation>固件</translation>
        </message>
        <message>
            <source>Patch</source>
            <translation>补丁</translation>
        </message>
        <message>
            <source>root</source>
            <translation>root</translation>
        </message>
    </context>
</TS>
