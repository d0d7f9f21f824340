<?xml version="1.0" encoding="UTF-8"?>
<!--
  An invoice in its standard form (INVOICE) as a page to read: supplier and customer, the
  order it refers to, the lines, and net, VAT and gross totals with the bank details.
-->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8" indent="yes"/>

  <xsl:template match="/INVOICE">
    <xsl:variable name="h" select="HEADER"/>
    <xsl:variable name="cur" select="$h/CURRENCY"/>
    <html>
      <head>
        <meta charset="UTF-8"/>
        <title>Invoice <xsl:value-of select="$h/INVOICENUMBER"/></title>
        <style>
          body { font-family: sans-serif; margin: 2em; color: #222; }
          h1 { font-size: 1.4em; border-bottom: 2px solid #654; padding-bottom: .3em; }
          table { border-collapse: collapse; }
          .parties td { vertical-align: top; padding-right: 3em; }
          .lines { width: 100%; margin-top: 1.5em; }
          .lines th { background: #654; color: #fff; text-align: left; padding: .3em .5em; }
          .lines td { border-bottom: 1px solid #ccc; padding: .3em .5em; }
          .num { text-align: right; }
          .totals { margin-top: 1em; margin-left: auto; }
          .totals td { padding: .2em .5em; }
          .gross td { font-weight: bold; border-top: 2px solid #654; }
        </style>
      </head>
      <body>
        <h1>Invoice <xsl:value-of select="$h/INVOICENUMBER"/></h1>
        <p>
          Invoice date <xsl:value-of select="$h/INVOICEDATE"/>,
          delivered <xsl:value-of select="$h/DELIVERYDATE"/>,
          for your order <strong><xsl:value-of select="$h/ORDERREFERENCE"/></strong>.
          Payment: <xsl:value-of select="$h/PAYMENTTERMS"/>.
        </p>
        <table class="parties">
          <tr>
            <td>
              <strong>Supplier</strong><br/>
              <xsl:value-of select="$h/SUPPLIER/NAME"/> (<xsl:value-of select="$h/SUPPLIER/CODE"/>)<br/>
              VAT id <xsl:value-of select="$h/SUPPLIER/VATID"/>
            </td>
            <td>
              <strong>Customer</strong><br/>
              <xsl:value-of select="$h/CUSTOMER/NAME"/> (<xsl:value-of select="$h/CUSTOMER/CODE"/>)<br/>
              <xsl:for-each select="$h/CUSTOMER/STREET">
                <xsl:value-of select="."/><br/>
              </xsl:for-each>
              <xsl:value-of select="$h/CUSTOMER/POSTCODE"/>
              <xsl:text> </xsl:text>
              <xsl:value-of select="$h/CUSTOMER/CITY"/>,
              <xsl:value-of select="$h/CUSTOMER/COUNTRY"/>
            </td>
          </tr>
        </table>
        <table class="lines">
          <tr>
            <th>#</th><th>Item</th><th>Description</th><th class="num">Quantity</th>
            <th class="num">Unit price</th><th class="num">VAT %</th><th class="num">Amount</th>
          </tr>
          <xsl:for-each select="LINES/LINE">
            <tr>
              <td><xsl:value-of select="@number"/></td>
              <td><xsl:value-of select="ITEM"/></td>
              <td><xsl:value-of select="DESCRIPTION"/></td>
              <td class="num"><xsl:value-of select="QUANTITY"/><xsl:text> </xsl:text><xsl:value-of select="QUANTITY/@unit"/></td>
              <td class="num"><xsl:value-of select="UNITPRICE"/></td>
              <td class="num"><xsl:value-of select="VATRATE"/></td>
              <td class="num"><xsl:value-of select="AMOUNT"/></td>
            </tr>
          </xsl:for-each>
        </table>
        <table class="totals">
          <tr><td>Net</td><td class="num"><xsl:value-of select="concat($cur, ' ', TOTALS/NET)"/></td></tr>
          <tr><td>VAT</td><td class="num"><xsl:value-of select="concat($cur, ' ', TOTALS/VAT)"/></td></tr>
          <tr class="gross"><td>Total due</td><td class="num"><xsl:value-of select="concat($cur, ' ', TOTALS/GROSS)"/></td></tr>
        </table>
        <xsl:if test="normalize-space($h/REMARK) != ''">
          <p><em><xsl:value-of select="$h/REMARK"/></em></p>
        </xsl:if>
        <p>Please transfer to IBAN <xsl:value-of select="$h/SUPPLIER/IBAN"/>, quoting <xsl:value-of select="$h/INVOICENUMBER"/>.</p>
      </body>
    </html>
  </xsl:template>

  <xsl:template match="/*" priority="-1">
    <html>
      <head><meta charset="UTF-8"/><title>Document</title></head>
      <body>
        <p>This document is not an invoice in standard form (its root is <xsl:value-of select="name()"/>).</p>
      </body>
    </html>
  </xsl:template>
</xsl:stylesheet>
