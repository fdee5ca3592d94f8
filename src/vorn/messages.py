"""messages.py: the English meaning of the fixed messages that vorn._vorn_core raises in
Chinese, for commands that report them (`explain`). docs/messages.md holds the same
templates with what to do about each; placeholders stand in angle brackets."""

from __future__ import annotations

import re

# (the module's message, its English meaning); a placeholder in the meaning takes the text
# that the placeholder of the same name matched in the message.
TEMPLATES = (
    ("eta 必须满足 0 < eta <= 2", "eta must satisfy 0 < eta <= 2"),
    ("mu 必须为正", "mu must be positive"),
    ("rho 必须满足 0 < rho <= 1", "rho must satisfy 0 < rho <= 1"),
    ("lambda 必须为正", "lambda must be positive"),
    ("eps 必须为正", "eps must be positive"),
    ("u_min 不能大于 u_max", "u_min must not be greater than u_max"),
    ("m_upper 必须为正", "m_upper must be positive"),
    ("m_lower 必须为正", "m_lower must be positive"),
    ("m_lower 不能大于 m_upper", "m_lower must not be greater than m_upper"),
    ("CFDL 要求 l_y == 0 且 l_u == 1", "the compact form needs l_y == 0 and l_u == 1"),
    ("PFDL 要求 l_y == 0 且 l_u >= 1", "the partial form needs l_y == 0 and l_u >= 1"),
    ("FFDL 要求 l_u >= 1", "the full form needs l_u >= 1"),
    ("伪阶数不满足当前控制器格式要求", "the pseudo-orders do not fit this controller's form"),
    ("CFDL 的 phi_hat 长度必须为 1，实际为 <n>", "CFDL's phi_hat must have length 1, got <n>"),
    ("<name> 长度至少为 <least>，实际为 <n>", "<name> needs at least <least> items, got <n>"),
    ("<y or yd> 长度 <n> ≠ dim <dim>", "<y or yd> has length <n>, not dim <dim>"),
    ("CFDL 的 phi 层数应为 1，实际为 <n>", "CFDL's phi must have 1 layer, got <n>"),
    ("PFDL 的 phi 层数应为 <l_u>，实际为 <n>", "PFDL's phi must have <l_u> layers, got <n>"),
    ("FFDL 的 phi 层数应为 <l_y + l_u>，实际为 <n>", "FFDL's phi must have <l_y + l_u> layers, got <n>"),
    ("<label> 行数 <n> ≠ dim <dim>", "<label> has <n> rows, not dim <dim>"),
    ("<label> 列数 <n> ≠ dim <dim>", "a row of <label> has <n> columns, not dim <dim>"),
    ("整定不支持当前伪阶数", "the tuning does not support these pseudo-orders"),
    ("整定参数非法", "invalid tuning parameter"),
    ("YAML 错误: 无法读取 YAML 文件: <reason>", "YAML error: cannot read the file"),
    ("YAML 错误: YAML 解析失败: <reader's message>", "YAML error: parsing failed"),
    ("控制器状态的规模超出可表示的范围", "the controller state's size cannot be represented"),
    ("控制器状态需要 <n> 字节，超出本机内存", "the controller state needs <n> bytes, more than this machine's memory"),
)

_PLACEHOLDER = re.compile(r"<[^>]+>")


def _compile(template: str) -> tuple[re.Pattern[str], list[str]]:
    names = _PLACEHOLDER.findall(template)
    parts = _PLACEHOLDER.split(template)
    pattern = "".join(re.escape(part) + ("(.+?)" if i < len(names) else "") for i, part in enumerate(parts))
    return re.compile(pattern + r"\Z", re.S), names


_COMPILED = [(*_compile(message), meaning) for message, meaning in TEMPLATES]


def explain(message: str) -> str | None:
    """The English meaning of one of the module's Chinese messages, or None for any other."""
    for pattern, names, meaning in _COMPILED:
        match = pattern.match(message)
        if match:
            for name, value in zip(names, match.groups()):
                meaning = meaning.replace(name, value)
            return meaning
    return None
