"""report.html: the summary in one self-contained page (no file beside it, no network):
warnings with the commands that answer them, the rate and segment tables, the plots
embedded as data URIs, and the text report."""

import base64
import html
import os

from alncommon.case import ToolError, write_text

from .statistics import ESS_WARNING_BELOW, RHAT_WARNING_ABOVE
from .tables import number_text

# What each plot shows and what to look for, under the plot.
PLOT_CAPTIONS = {
    "traces.png": "Traces: after the dashed burn-in lines the chains should overlap and look like stationary"
                  " noise. Rates are on a log axis; draws below the floor named in a panel's title are drawn at it.",
    "rate_states.png": "Rate states along the alignment (state 0 the most conserved), the mean rates of each"
                       " column, and where segments start.",
    "segments.png": "The number of segments per iteration and its posterior.",
    "root_confidence.png": "The root sequence: each column's bar is as high as the probability of its most"
                           " probable value and has that value's colour (grey where a bar averages several"
                           " columns).",
}

STYLE = """
body { font-family: sans-serif; max-width: 1100px; margin: 1.5em auto; padding: 0 1em; color: #222; }
h1 { font-size: 1.4em; } h2 { font-size: 1.15em; margin-top: 1.6em; border-bottom: 1px solid #ccc; }
table { border-collapse: collapse; margin: 0.5em 0; }
th, td { border: 1px solid #ccc; padding: 0.2em 0.6em; text-align: right; }
th { text-align: left; }
th:first-child, td:first-child, td.text { text-align: left; }
td.flag { background: #fde2c8; }
.warnings li { margin: 0.4em 0; }
.box { background: #fff4e5; border-left: 4px solid #e8912d; padding: 0.5em 1em; }
.ok { background: #eaf6ea; border-left: 4px solid #3a9a3a; padding: 0.5em 1em; }
pre { background: #f4f4f4; padding: 0.6em; overflow-x: auto; white-space: pre; }
figure { margin: 1em 0; } img { max-width: 100%; border: 1px solid #ddd; }
figcaption { font-size: 0.9em; color: #555; }
"""


def _escape(text):
    return html.escape(str(text), quote=True)


def _table(header, rows):
    head = "".join(f"<th>{_escape(name)}</th>" for name in header)
    body = "".join("<tr>" + "".join(cell if cell.startswith("<td") else f"<td>{_escape(cell)}</td>" for cell in row)
                   + "</tr>\n" for row in rows)
    return f"<table><tr>{head}</tr>\n{body}</table>"


def _flagged(text, flag):
    return f'<td class="flag">{_escape(text)}</td>' if flag else f"<td>{_escape(text)}</td>"


def rate_table(summary):
    diagnosed = {row["rate"] for row in summary.diagnosed_rows()}
    rows = []
    for row in summary.rate_rows:
        judged = row["rate"] in diagnosed
        rows.append([row["rate"], f'<td class="text">{_escape(summary.state_name(row["state"]))}</td>',
                     number_text(row["mean"]),
                     f"{number_text(row['lower_95'])} .. {number_text(row['upper_95'])}",
                     _flagged(number_text(row["ess"]), judged and not row["ess"] >= ESS_WARNING_BELOW),
                     _flagged(number_text(row["rhat"]), judged and row["rhat"] > RHAT_WARNING_ABOVE)])
    return _table(["rate", "state", "mean", "95% interval", "ESS", "R-hat"], rows)


def segment_table(summary):
    rows = [[str(k), number_text(float(p)), number_text(float(c))]
            for k, (p, c) in enumerate(zip(summary.segment_probs, summary.segment_conditional), start=1)]
    return _table(["segments", "probability", "mean conditional"], rows)


def chain_table(summary):
    rows = [[f"seed {chain.seed}", str(chain.n), str(chain.thin), str(chain.burnin), str(chain.n_kept)]
            for chain in summary.chains]
    return _table(["chain", "iterations", "thin", "burn-in", "kept draws"], rows)


def _image(path):
    try:
        with open(path, "rb") as handle:
            data = base64.b64encode(handle.read()).decode("ascii")
    except OSError as error:
        raise ToolError(f"cannot read {path}: {error.strerror}") from None
    return f'<img alt="{_escape(os.path.basename(path))}" src="data:image/png;base64,{data}">'


def page(summary, report_lines, warnings, next_step, plot_paths):
    """The page's text; `next_step` is (heading, commands) and `plot_paths` the PNG files to embed."""
    heading, commands = next_step
    title = report_lines[0].split(": ", 1)[-1]
    parts = [f"<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>{_escape(title)}</title>"
             f"<style>{STYLE}</style></head><body>", f"<h1>{_escape(report_lines[0])}</h1>"]
    if warnings:
        items = "".join(f"<li>{_escape(message)}</li>" for message in warnings)
        parts.append(f'<h2>Warnings</h2><div class="box"><ul class="warnings">{items}</ul></div>')
    else:
        parts.append('<h2>Warnings</h2><div class="ok">None.</div>')
    parts.append(f"<h2>Next step</h2><p>{_escape(heading)}</p>")
    if commands:
        parts.append("<pre>" + _escape("\n".join(commands)) + "</pre>")
    parts += ["<h2>Chains</h2>", chain_table(summary), "<h2>Rates</h2>", rate_table(summary),
              f"<p>ESS below {ESS_WARNING_BELOW:g} and R-hat above {RHAT_WARNING_ABOVE:g} are marked.</p>",
              "<h2>Number of segments</h2>", segment_table(summary)]
    if plot_paths:
        parts.append("<h2>Plots</h2>")
        for path in plot_paths:
            caption = PLOT_CAPTIONS.get(os.path.basename(path), "")
            parts.append(f"<figure>{_image(path)}<figcaption>{_escape(caption)}</figcaption></figure>")
    parts.append("<h2>Text report</h2><pre>" + _escape("\n".join(report_lines)) + "</pre></body></html>\n")
    return "\n".join(parts)


def write_report(path, summary, report_lines, warnings, next_step, plot_names):
    folder = os.path.dirname(path)
    write_text(path, page(summary, report_lines, warnings, next_step,
                          [os.path.join(folder, name) for name in plot_names]))
