<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
    <context>
        <name>BatchProgrammingDialog</name>
        <message>
            <source>Batch Programming</source>
            <translation>批量烧录</translation>
        </message>
        <message>
            <source>IP</source>
            <translation>IP</translation>
        </message>
        <message>
            <source>Version</source>
            <translation>版本</translation>
        </message>
        <message>
            <source>Progress</source>
            <translation>进度</translation>
        </message>
        <message>
            <source>Status</source>
            <translation>状态</translation>
        </message>
        <message>
            <source>APP</source>
            <translation>APP</translation>
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
            <source>Refresh Version</source>
            <translation>刷新版本</translation>
        </message>
        <message>
            <source>Import Device</source>
            <translation>导入设备</translation>
        </message>
        <message>
            <source>Export Result</source>
            <translation>导出结果</translation>
        </message>
        <message>
            <source>Program</source>
            <translation>烧录</translation>
        </message>
        <message>
            <source>Add Device</source>
            <translation>添加设备</translation>
        </message>
        <message>
            <source>Choose Programming File</source>
            <translation>选择烧录文件</translation>
        </message>
        <message>
            <source>Not Start</source>
            <translation>未开始</translation>
        </message>
        <message>
            <source>In Progress</source>
            <translation>进行中</translation>
        </message>
        <message>
            <source>Succeeded</source>
            <translation>成功</translation>
        </message>
        <message>
            <source>Failed</source>
            <translation>失败</translation>
        </message>
        <message>
            <source>Code: </source>
            <translation>代码：</translation>
        </message>
        <message>
            <source>Warning</source>
            <translation>警告</translation>
        </message>
        <message>
            <source>IP address is invaild!</source>
            <translation>IP地址无效！</translation>
        </message>
        <message>
            <source>IP already exists!</source>
            <translation>IP已存在！</translation>
        </message>
        <message>
            <source>(*.bin)</source>
            <translation>(*.bin)</translation>
        </message>
        <message>
            <source>Choose Device List File</source>
            <translation>选择设备列表文件</translation>
        </message>
        <message>
            <source>(*.txt *.csv *.xlsx)</source>
            <translation>(*.txt *.csv *.xlsx)</translation>
        </message>
        <message>
            <source>File cannot open!</source>
            <translation>文件无法打开！</translation>
        </message>
        <message>
            <source>Save Batch Programming Result</source>
            <translation>保存批量烧录结果</translation>
        </message>
        <message>
            <source>(*.txt)</source>
            <translation>(*.txt)</translation>
        </message>
        <message>
            <source>Result</source>
            <translation>结果</translation>
        </message>
        <message>
            <source>Delete</source>
            <translation>删除</translation>
        </message>
        <message>
            <source>The programming file is a damaged firmware package!</source>
            <translation>烧录文件是已损坏的固件包！</translation>
        </message>
        <message>
            <source>Open programming file failed!</source>
            <translation>打开烧录文件失败！</translation>
        </message>
        <message>
            <source>Reason</source>
            <translation>原因</translation>
        </message>
        <message>
            <source>Retry Failed</source>
            <translation>重试失败项</translation>
        </message>
        <message>
            <source>Stop</source>
            <translation>停止</translation>
        </message>
        <message>
            <source>Stopped</source>
            <translation>已停止</translation>
        </message>
        <message>
            <source>Cannot connect</source>
            <translation>无法连接</translation>
        </message>
        <message>
            <source>No answer</source>
            <translation>无应答</translation>
        </message>
        <message>
            <source>Start refused</source>
            <translation>拒绝开始</translation>
        </message>
        <message>
            <source>Data refused</source>
            <translation>拒绝数据</translation>
        </message>
        <message>
            <source>Link lost</source>
            <translation>连接中断</translation>
        </message>
        <message>
            <source>Timeout</source>
            <translation>超时</translation>
        </message>
        <message>
            <source>Cannot read the programming file</source>
            <translation>无法读取烧录文件</translation>
        </message>
        <message>
            <source>Stopped by the operator</source>
            <translation>操作员已停止</translation>
        </message>
        <message>
            <source>Parallel devices</source>
            <translation>并行设备数</translation>
        </message>
    </context>
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
            <translation>信息</translation>
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
        <name>DevSearchPage</name>
        <message>
            <source>Host</source>
            <translation>主机</translation>
        </message>
        <message>
            <source>Product</source>
            <translation>产品</translation>
        </message>
        <message>
            <source>Interface</source>
            <translation>接口</translation>
        </message>
        <message>
            <source>IP</source>
            <translation>IP</translation>
        </message>
        <message>
            <source>Netmask</source>
            <translation>子网掩码</translation>
        </message>
        <message>
            <source>MAC</source>
            <translation>MAC</translation>
        </message>
        <message>
            <source>Interface:</source>
            <translation>网络接口：</translation>
        </message>
        <message>
            <source>Refresh</source>
            <translation>刷新</translation>
        </message>
        <message>
            <source>Search device</source>
            <translation>搜索设备</translation>
        </message>
        <message>
            <source>Searching device...</source>
            <translation>正在搜索设备...</translation>
        </message>
        <message>
            <source>Network interface is not accessible!</source>
            <translation>网络接口不可用！</translation>
        </message>
        <message>
            <source>Unknown</source>
            <translation>未知</translation>
        </message>
        <message>
            <source>Device Reply</source>
            <translation>设备应答</translation>
        </message>
        <message>
            <source>Operation %1!</source>
            <translation>操作%1！</translation>
        </message>
        <message>
            <source>succeed</source>
            <translation>成功</translation>
        </message>
        <message>
            <source>failed</source>
            <translation>失败</translation>
        </message>
        <message>
            <source>Browse device</source>
            <translation>浏览设备</translation>
        </message>
        <message>
            <source>Set IP address</source>
            <translation>设置IP地址</translation>
        </message>
        <message>
            <source>Reboot</source>
            <translation>重启</translation>
        </message>
    </context>
    <context>
        <name>DialogSetIP</name>
        <message>
            <source>Set IP Address</source>
            <translation>设置IP地址</translation>
        </message>
        <message>
            <source>Interface:</source>
            <translation>接口：</translation>
        </message>
        <message>
            <source>IP Address:</source>
            <translation>IP地址：</translation>
        </message>
        <message>
            <source>Netmask:</source>
            <translation>子网掩码：</translation>
        </message>
        <message>
            <source>optional</source>
            <translation>可选</translation>
        </message>
        <message>
            <source>Gateway:</source>
            <translation>网关：</translation>
        </message>
        <message>
            <source>Sure</source>
            <translation>确定</translation>
        </message>
        <message>
            <source>Warning</source>
            <translation>警告</translation>
        </message>
        <message>
            <source>IP address is invalid!</source>
            <translation>IP地址无效！</translation>
        </message>
        <message>
            <source>Netmask is invalid!</source>
            <translation>子网掩码无效！</translation>
        </message>
        <message>
            <source>Gateway is invalid!</source>
            <translation>网关无效！</translation>
        </message>
    </context>
    <context>
        <name>DisplayLogPage</name>
        <message>
            <source>Open</source>
            <translation>打开</translation>
        </message>
        <message>
            <source>Refresh log file</source>
            <translation>刷新日志文件</translation>
        </message>
        <message>
            <source>Clear</source>
            <translation>清空</translation>
        </message>
        <message>
            <source>Warning</source>
            <translation>警告</translation>
        </message>
        <message>
            <source>Log file error!</source>
            <translation>日志文件错误！</translation>
        </message>
        <message>
            <source>Information</source>
            <translation>信息</translation>
        </message>
        <message>
            <source>No log file is accessible!</source>
            <translation>没有可访问的日志文件！</translation>
        </message>
        <message>
            <source>Close</source>
            <translation>关闭</translation>
        </message>
        <message>
            <source>Open log file failed!</source>
            <translation>打开日志文件失败！</translation>
        </message>
        <message>
            <source>Save to file...</source>
            <translation>保存到文件...</translation>
        </message>
        <message>
            <source>Stop saving</source>
            <translation>停止保存</translation>
        </message>
        <message>
            <source>[lines skipped: %1]</source>
            <translation>[已跳过 %1 行]</translation>
        </message>
        <message>
            <source>Save log to file</source>
            <translation>保存日志到文件</translation>
        </message>
        <message>
            <source>Log files (*.log *.txt);;All files (*)</source>
            <translation>日志文件 (*.log *.txt);;所有文件 (*)</translation>
        </message>
        <message>
            <source>Save log file failed!</source>
            <translation>保存日志文件失败！</translation>
        </message>
    </context>
    <context>
        <name>FileCheck</name>
        <message>
            <source>Only regular files can be opened, not folders, pipes or devices!</source>
            <translation>只能打开普通文件，不能打开文件夹、管道或设备！</translation>
        </message>
        <message>
            <source>The file is larger than %1 MiB!</source>
            <translation>文件大于 %1 MiB！</translation>
        </message>
    </context>
    <context>
        <name>FixedParamPage</name>
        <message>
            <source>Form</source>
            <translation>窗体</translation>
        </message>
        <message>
            <source>Item</source>
            <translation>项目</translation>
        </message>
        <message>
            <source>value</source>
            <translation>值</translation>
        </message>
        <message>
            <source>Backup</source>
            <translation>备份</translation>
        </message>
        <message>
            <source>Load</source>
            <translation>加载</translation>
        </message>
        <message>
            <source>Reset</source>
            <translation>重置</translation>
        </message>
        <message>
            <source>Add</source>
            <translation>添加</translation>
        </message>
        <message>
            <source>Read</source>
            <translation>读取</translation>
        </message>
        <message>
            <source>Write</source>
            <translation>写入</translation>
        </message>
        <message>
            <source>Warning</source>
            <translation>警告</translation>
        </message>
        <message>
            <source>Read data failed!</source>
            <translation>读取数据失败！</translation>
        </message>
        <message>
            <source>Information</source>
            <translation>信息</translation>
        </message>
        <message>
            <source>Read data finished!</source>
            <translation>读取数据完成！</translation>
        </message>
        <message>
            <source>Operation success!</source>
            <translation>操作成功！</translation>
        </message>
        <message>
            <source>Operation failed!</source>
            <translation>操作失败！</translation>
        </message>
        <message>
            <source>Invaild settings!</source>
            <translation>设置无效！</translation>
        </message>
        <message>
            <source>There is item or value is empty! And these will no be set to device!
Do you want to continue?</source>
            <translation>存在项目或值为空的行！这些行将不会写入设备！
是否继续？</translation>
        </message>
        <message>
            <source>Yes</source>
            <translation>是</translation>
        </message>
        <message>
            <source>No</source>
            <translation>否</translation>
        </message>
        <message>
            <source>No content to backup!</source>
            <translation>没有可备份的内容！</translation>
        </message>
        <message>
            <source>Save fixed parameter file</source>
            <translation>保存固定参数文件</translation>
        </message>
        <message>
            <source>(*.ini)</source>
            <translation>(*.ini)</translation>
        </message>
        <message>
            <source>Save fixed parameter failed!</source>
            <translation>保存固定参数失败！</translation>
        </message>
        <message>
            <source>Save fixed parameter success!</source>
            <translation>保存固定参数成功！</translation>
        </message>
        <message>
            <source>Choose fixed parameter file</source>
            <translation>选择固定参数文件</translation>
        </message>
        <message>
            <source>Load fixed parameter failed!</source>
            <translation>加载固定参数失败！</translation>
        </message>
        <message>
            <source>Load fixed parameter success!</source>
            <translation>加载固定参数成功！</translation>
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
            <translation>程序烧录</translation>
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
            <translation>APP</translation>
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
        <message>
            <source>Form</source>
            <translation>窗体</translation>
        </message>
        <message>
            <source>Programming type    :</source>
            <translation>烧录类型：</translation>
        </message>
        <message>
            <source>Backup</source>
            <translation>备份</translation>
        </message>
        <message>
            <source>Current version     :</source>
            <translation>当前版本：</translation>
        </message>
        <message>
            <source>Read</source>
            <translation>读取</translation>
        </message>
        <message>
            <source>Programming file    :</source>
            <translation>烧录文件：</translation>
        </message>
        <message>
            <source>Choose</source>
            <translation>选择</translation>
        </message>
        <message>
            <source>Programming</source>
            <translation>烧录</translation>
        </message>
        <message>
            <source>Programming progress:</source>
            <translation>烧录进度：</translation>
        </message>
        <message>
            <source>Choose programming file</source>
            <translation>选择烧录文件</translation>
        </message>
        <message>
            <source>Binary Files(*.bin);;*</source>
            <translation>二进制文件(*.bin);;*</translation>
        </message>
        <message>
            <source>Tip</source>
            <translation>提示</translation>
        </message>
        <message>
            <source>Programming file is not choosen!</source>
            <translation>未选择烧录文件！</translation>
        </message>
        <message>
            <source>Progress: %1%</source>
            <translation>进度：%1%</translation>
        </message>
        <message>
            <source>Information</source>
            <translation>信息</translation>
        </message>
        <message>
            <source>Programming failed, disconnect from device!</source>
            <translation>烧录失败，已与设备断开连接！</translation>
        </message>
        <message>
            <source>Warning</source>
            <translation>警告</translation>
        </message>
        <message>
            <source>Programming timeout!</source>
            <translation>烧录超时！</translation>
        </message>
        <message>
            <source>Backup file failed!</source>
            <translation>备份文件失败！</translation>
        </message>
        <message>
            <source>Programming failed!</source>
            <translation>烧录失败！</translation>
        </message>
        <message>
            <source>Programming...</source>
            <translation>正在烧录...</translation>
        </message>
        <message>
            <source>Start programming failed!</source>
            <translation>启动烧录失败！</translation>
        </message>
        <message>
            <source>Installing program...</source>
            <translation>正在安装程序...</translation>
        </message>
        <message>
            <source>Programming finish!</source>
            <translation>烧录完成！</translation>
        </message>
        <message>
            <source>Backuping program...</source>
            <translation>正在备份程序...</translation>
        </message>
        <message>
            <source>The programming file is a damaged firmware package!</source>
            <translation>烧录文件是已损坏的固件包！</translation>
        </message>
        <message>
            <source>Open programming file failed!</source>
            <translation>打开烧录文件失败！</translation>
        </message>
        <message>
            <source>Start backup failed!</source>
            <translation>启动备份失败！</translation>
        </message>
        <message>
            <source>Backup program</source>
            <translation>备份程序</translation>
        </message>
        <message>
            <source>Binary File(*.bin)</source>
            <translation>二进制文件(*.bin)</translation>
        </message>
        <message>
            <source>Cannot open backup file!</source>
            <translation>无法打开备份文件！</translation>
        </message>
        <message>
            <source>Receiving backup file...</source>
            <translation>正在接收备份文件...</translation>
        </message>
        <message>
            <source>Backup file finished!</source>
            <translation>备份文件完成！</translation>
        </message>
        <message>
            <source>Batch Programming</source>
            <translation>批量烧录</translation>
        </message>
        <message>
            <source>The device does not answer!</source>
            <translation>设备无应答！</translation>
        </message>
    </context>
    <context>
        <name>SPTestPage</name>
        <message>
            <source>None</source>
            <translation>无</translation>
        </message>
        <message>
            <source>Hardware</source>
            <translation>硬件</translation>
        </message>
        <message>
            <source>Software</source>
            <translation>软件</translation>
        </message>
        <message>
            <source>Even</source>
            <translation>偶校验</translation>
        </message>
        <message>
            <source>Odd</source>
            <translation>奇校验</translation>
        </message>
        <message>
            <source>RS485:</source>
            <translation>RS485：</translation>
        </message>
        <message>
            <source>Port Name:</source>
            <translation>端口名称：</translation>
        </message>
        <message>
            <source>Buad Rate:</source>
            <translation>波特率：</translation>
        </message>
        <message>
            <source>Data Bits:</source>
            <translation>数据位：</translation>
        </message>
        <message>
            <source>Flow Control:</source>
            <translation>流控制：</translation>
        </message>
        <message>
            <source>Parity:</source>
            <translation>校验位：</translation>
        </message>
        <message>
            <source>Stop Bits:</source>
            <translation>停止位：</translation>
        </message>
        <message>
            <source>Clear</source>
            <translation>清空</translation>
        </message>
        <message>
            <source>Connect</source>
            <translation>连接</translation>
        </message>
        <message>
            <source>Hex</source>
            <translation>十六进制</translation>
        </message>
        <message>
            <source>ASCII</source>
            <translation>ASCII</translation>
        </message>
        <message>
            <source>Modbus</source>
            <translation>Modbus</translation>
        </message>
        <message>
            <source>Send</source>
            <translation>发送</translation>
        </message>
        <message>
            <source>Disconnect</source>
            <translation>断开</translation>
        </message>
        <message>
            <source>Tip</source>
            <translation>提示</translation>
        </message>
        <message>
            <source>The port name must not be longer than 255 bytes!</source>
            <translation>端口名称不能超过 255 字节！</translation>
        </message>
        <message>
            <source>Send: 
</source>
            <translation>发送：
</translation>
        </message>
        <message>
            <source>Receive: 
</source>
            <translation>接收：
</translation>
        </message>
        <message>
            <source>Warning</source>
            <translation>警告</translation>
        </message>
        <message>
            <source>Port not opened!</source>
            <translation>串口未打开！</translation>
        </message>
        <message>
            <source>Open device's serial port failed!</source>
            <translation>打开设备串口失败！</translation>
        </message>
        <message>
            <source>Send data to device's serial port failed!</source>
            <translation>向设备串口发送数据失败！</translation>
        </message>
    </context>
    <context>
        <name>SettingsPage</name>
        <message>
            <source>Form</source>
            <translation>窗体</translation>
        </message>
        <message>
            <source>Date settings</source>
            <translation>日期设置</translation>
        </message>
        <message>
            <source>Date:</source>
            <translation>日期：</translation>
        </message>
        <message>
            <source>Device date</source>
            <translation>设备日期</translation>
        </message>
        <message>
            <source>Sync date</source>
            <translation>同步日期</translation>
        </message>
        <message>
            <source>Port settings</source>
            <translation>端口设置</translation>
        </message>
        <message>
            <source>Item</source>
            <translation>项目</translation>
        </message>
        <message>
            <source>Enable</source>
            <translation>启用</translation>
        </message>
        <message>
            <source>Port</source>
            <translation>端口</translation>
        </message>
        <message>
            <source>SSH</source>
            <translation>SSH</translation>
        </message>
        <message>
            <source>Telnet</source>
            <translation>Telnet</translation>
        </message>
        <message>
            <source>HTTP</source>
            <translation>HTTP</translation>
        </message>
        <message>
            <source>HTTPS</source>
            <translation>HTTPS</translation>
        </message>
        <message>
            <source>1~65534</source>
            <translation>1~65534</translation>
        </message>
        <message>
            <source>Read</source>
            <translation>读取</translation>
        </message>
        <message>
            <source>Write</source>
            <translation>写入</translation>
        </message>
        <message>
            <source>Warning</source>
            <translation>警告</translation>
        </message>
        <message>
            <source>Port settings error!</source>
            <translation>端口设置错误！</translation>
        </message>
        <message>
            <source>Information</source>
            <translation>信息</translation>
        </message>
        <message>
            <source>Writing data...</source>
            <translation>正在写入数据...</translation>
        </message>
        <message>
            <source>Tip</source>
            <translation>提示</translation>
        </message>
        <message>
            <source>Read date failed!</source>
            <translation>读取日期失败！</translation>
        </message>
        <message>
            <source>Read data failed!</source>
            <translation>读取数据失败！</translation>
        </message>
        <message>
            <source>Read data finished!</source>
            <translation>读取数据完成！</translation>
        </message>
        <message>
            <source>Operation success!</source>
            <translation>操作成功！</translation>
        </message>
        <message>
            <source>Operation failed!</source>
            <translation>操作失败！</translation>
        </message>
    </context>
</TS>
